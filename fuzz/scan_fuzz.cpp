// The line-ending scanners against a model written from the conversion table,
// a byte at a time: every conversion and the detection on arbitrary bytes,
// through streams with buffers as small as one byte so that the look-ahead
// and its push-back meet every buffer boundary, and large enough to hold a
// few of the detector's lanes of sixteen bytes and blocks of 128, and the
// converter's chunks of sixty-four; on the paths every processor has and on
// this processor's wider ones.
//
// Input: the first byte picks the stream buffer size, the second how many
// ordinary bytes come before the rest, so that the same bytes meet the
// boundaries of buffers and of lanes at every position; the rest is the file.
#include "scan.h"

#include "fuzz_util.h"

#include <string>

namespace {

const char CR = '\r';
const char LF = '\n';

// One line ending or ordinary byte of the input, classified as the table
// does: CR LF is one DOS ending, a CR not followed by LF a Mac one, any other
// LF a UNIX one.
struct token {
    int type;  // 'd', 'u', 'm', or 0 for an ordinary byte
    size_t len;
};

token token_at(const std::string& s, size_t i)
{
    if (s[i] == CR)
        return i + 1 < s.size() && s[i + 1] == LF ? token{'d', 2} : token{'m', 1};
    if (s[i] == LF)
        return {'u', 1};
    return {0, 1};
}

std::string ending(int type)
{
    return type == 'd' ? "\r\n" : type == 'u' ? "\n" : "\r";
}

std::string model_convert(const std::string& in, int from, int to)
{
    std::string out;
    for (size_t i = 0; i < in.size();) {
        token t = token_at(in, i);
        if (t.type == 0)
            out += in[i];
        else
            out += ending(t.type == from ? to : t.type);
        i += t.len;
    }
    return out;
}

// The detector reads the byte after a lone CR again, as the converter does.
int model_detect(const std::string& in)
{
    int found = 0;
    for (size_t i = 0; i < in.size(); i += token_at(in, i).len) {
        int type = token_at(in, i).type;
        found |= type == 'd' ? FOUND_DOS : type == 'u' ? FOUND_UNIX : type == 'm' ? FOUND_MAC : 0;
    }
    return found;
}

size_t count_type(const std::string& in, int type)
{
    size_t n = 0;
    for (size_t i = 0; i < in.size(); i += token_at(in, i).len)
        n += token_at(in, i).type == type;
    return n;
}

// The C library applies a buffer size only together with the buffer: each
// stream of a run gets one of these, BUF bytes of it (0: the library's own).
const size_t largest_buffer = 255;
char stream_buffers[2][largest_buffer];

void set_buffer(FILE* f, int which, size_t buf)
{
    check(f != nullptr);
    if (buf)
        setvbuf(f, stream_buffers[which], _IOFBF, buf);
}

// An input stream over BYTES (which must end in a spare NUL, as fmemopen
// wants a buffer even for an empty file).
void open_input(FileStream& f, std::string& bytes, size_t buf)
{
    f.stream = fmemopen(&bytes[0], bytes.size() - 1, "r");
    set_buffer(f.stream, 0, buf);
}

ssize_t append(void* cookie, const char* data, size_t size)
{
    static_cast<std::string*>(cookie)->append(data, size);
    return static_cast<ssize_t>(size);
}

std::string run_convert(const std::string& in, size_t buf, int from, int to)
{
    std::string bytes = in + '\0';
    FileStream src;
    open_input(src, bytes, buf);
    std::string out;
    FileStream dst;
    dst.stream = fopencookie(&out, "w", {nullptr, append, nullptr, nullptr});
    set_buffer(dst.stream, 1, buf);
    convert_line_endings(src, dst, from, to);
    check(dst.close());
    return out;
}

int run_detect(const std::string& in, size_t buf)
{
    std::string bytes = in + '\0';
    FileStream src;
    open_input(src, bytes, buf);
    return detect_line_endings(src);
}

// Converting again changes nothing, except exactly where the conversion itself made a
// new ending of its source type: a lone CR before a CR LF turned into LF
// (CR CR LF, DOS to UNIX), or a CR LF turned into CR before a lone LF
// (CR LF LF, DOS to Mac).
bool stable_twice(const std::string& in, int from, int to)
{
    if (from == 'd' && to == 'u')
        return in.find("\r\r\n") == std::string::npos;
    if (from == 'd' && to == 'm')
        return in.find("\r\n\n") == std::string::npos;
    return true;
}

void check_conversion(const std::string& in, size_t buf, int from, int to)
{
    std::string out = run_convert(in, buf, from, to);
    check(out == model_convert(in, from, to));
    // Only endings of the source type change: every other byte is kept, so
    // the lengths differ by exactly the rewritten endings.
    size_t n = count_type(in, from);
    check(out.size() + n * ending(from).size() == in.size() + n * ending(to).size());
    std::string twice = run_convert(out, buf, from, to);
    check((twice == out) == stable_twice(in, from, to));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t buf = data[0];
    std::string in(data[1] % 64, 'x');
    in.append(reinterpret_cast<const char*>(data) + 2, size - 2);
    static const char* const conversions[] = {"du", "ud", "dm", "md", "um", "mu"};
    // The paths every processor has, then this processor's wider ones.
    for (bool wide : {false, true}) {
        set_wide_scans(wide);
        for (const char* c : conversions)
            check_conversion(in, buf, c[0], c[1]);
        check(run_detect(in, buf) == model_detect(in));
    }
    return 0;
}
