#include "scan.h"

namespace {

const int CR = 0x0D;
const int LF = 0x0A;

void put_ending(FileStream& out, int type)
{
    if (type != 'u')
        out.put_byte(CR);
    if (type != 'm')
        out.put_byte(LF);
}

// The letter each type of line ending is written as, worked out once per file
// rather than once per ending.
struct ending_map {
    int dos;
    int unix_type;
    int mac;

    ending_map(int from, int to)
        : dos(from == 'd' ? to : 'd'), unix_type(from == 'u' ? to : 'u'),
          mac(from == 'm' ? to : 'm')
    {
    }
};

// Reads the byte after a CR: true when it is an LF that completes a CR LF
// pair. Any other byte goes back to be read again: it may itself begin a
// line ending (CR CR LF is a lone CR, then a CR LF pair).
bool pair_completed(FileStream& in)
{
    int n = in.get_byte();
    if (n == LF)
        return true;
    if (n != EOF)
        in.unget_byte(n);
    return false;
}

}  // namespace

// Almost every byte of a text is an ordinary one: after each, the run of
// ordinary bytes that follows is taken in one step. A byte that ends a line
// is not followed by a run, so a text of nothing but line endings costs no
// more than reading it byte by byte.
void convert_line_endings(FileStream& in, FileStream& out, int from, int to)
{
    const ending_map map(from, to);
    for (int b; (b = in.get_byte()) != EOF;) {
        if (b == LF) {
            put_ending(out, map.unix_type);
        } else if (b == CR) {
            put_ending(out, pair_completed(in) ? map.dos : map.mac);
        } else {
            out.put_byte(b);
            out.put_run(in.get_run());
        }
    }
}

// The byte after a lone CR is looked at again, as the converter reads it
// again; the detector writes nothing, so it keeps the byte rather than push
// it back into the stream.
int detect_line_endings(FileStream& in)
{
    int found = 0;
    int b = in.get_byte();
    while (b != EOF) {
        if (b == CR) {
            b = in.get_byte();
            if (b != LF) {
                found |= FOUND_MAC;
                continue;
            }
            found |= FOUND_DOS;
        } else if (b == LF) {
            found |= FOUND_UNIX;
        } else {
            in.get_run();
        }
        b = in.get_byte();
    }
    return found;
}
