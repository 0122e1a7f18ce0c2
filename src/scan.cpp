#include "scan.h"

namespace {

const int CR = 0x0D;
const int LF = 0x0A;

// Branch hints for the byte loops: almost every byte of a text is neither
// CR nor LF, so that path is laid out straight.
inline bool likely(bool c)
{
    return __builtin_expect(c, 1);
}

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

}  // namespace

void convert_line_endings(FileStream& in, FileStream& out, int from, int to)
{
    const ending_map map(from, to);
    int b = in.get_byte();
    while (b != EOF) {
        // Every byte above CR is an ordinary one: one test per byte.
        if (likely(b > CR)) {
            out.put_byte(b);
            b = in.get_byte();
            continue;
        }
        if (b == LF) {
            put_ending(out, map.unix_type);
        } else if (b == CR) {
            int n = in.get_byte();
            if (n == LF) {
                put_ending(out, map.dos);
            } else {
                put_ending(out, map.mac);
                // The byte after a lone CR goes back to be read again: it
                // may itself begin a line ending (CR CR LF is CR, then CR LF).
                if (n != EOF)
                    in.unget_byte(n);
            }
        } else {
            out.put_byte(b);
        }
        b = in.get_byte();
    }
}

int detect_line_endings(FileStream& in)
{
    int found = 0;
    for (int b; (b = in.get_byte()) != EOF;) {
        if (likely(b > CR))
            continue;
        if (b == CR) {
            // The byte after a CR is consumed with it, whatever it is.
            found |= in.get_byte() == LF ? FOUND_DOS : FOUND_MAC;
        } else if (b == LF) {
            found |= FOUND_UNIX;
        }
    }
    return found;
}
