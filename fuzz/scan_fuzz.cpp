// The line-ending scanners against a model written from the conversion table:
// every conversion and the detection on arbitrary bytes, through streams with
// buffers as small as one byte so that the look-ahead and its push-back meet
// every buffer boundary.
//
// Input: the first byte picks the stream buffer size, the rest is the file.
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

// The detector takes the byte after a CR with it, whatever that byte is.
int model_detect(const std::string& in)
{
    int found = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == CR)
            found |= ++i < in.size() && in[i] == LF ? FOUND_DOS : FOUND_MAC;
        else if (in[i] == LF)
            found |= FOUND_UNIX;
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

// An input stream over BYTES (which must end in a spare NUL, as fmemopen
// wants a buffer even for an empty file), with a buffer of BUF bytes (0: the
// library's own).
void open_input(FileStream& f, std::string& bytes, size_t buf)
{
    f.stream = fmemopen(&bytes[0], bytes.size() - 1, "r");
    check(f.stream != nullptr);
    if (buf)
        setvbuf(f.stream, nullptr, _IOFBF, buf);
}

std::string run_convert(const std::string& in, size_t buf, int from, int to)
{
    std::string bytes = in + '\0';
    FileStream src;
    open_input(src, bytes, buf);
    char* data = nullptr;
    size_t size = 0;
    FileStream dst;
    dst.stream = open_memstream(&data, &size);
    check(dst.stream != nullptr);
    if (buf)
        setvbuf(dst.stream, nullptr, _IOFBF, buf);
    convert_line_endings(src, dst, from, to);
    check(dst.close());
    std::string out(data, size);
    free(data);
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
    if (size == 0)
        return 0;
    size_t buf = data[0] % 9;
    std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
    static const char* const conversions[] = {"du", "ud", "dm", "md", "um", "mu"};
    for (const char* c : conversions)
        check_conversion(in, buf, c[0], c[1]);
    check(run_detect(in, buf) == model_detect(in));
    return 0;
}
