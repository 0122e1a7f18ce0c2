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

}  // namespace

void convert_line_endings(FileStream& in, FileStream& out, int from, int to)
{
    for (int b; (b = in.get_byte()) != EOF;) {
        int type;
        if (b == LF) {
            type = 'u';
        } else if (b == CR) {
            int n = in.get_byte();
            if (n == LF) {
                type = 'd';
            } else {
                type = 'm';
                // The byte after a lone CR starts the next step: it may
                // itself begin a line ending (CR CR LF is CR, then CR LF).
                if (n != EOF)
                    in.unget_byte(n);
            }
        } else {
            out.put_byte(b);
            continue;
        }
        put_ending(out, type == from ? to : type);
    }
}

int detect_line_endings(FileStream& in)
{
    int found = 0;
    for (int b; (b = in.get_byte()) != EOF;) {
        if (b == CR) {
            // The byte after a CR is consumed with it, whatever it is.
            found |= in.get_byte() == LF ? FOUND_DOS : FOUND_MAC;
        } else if (b == LF) {
            found |= FOUND_UNIX;
        }
    }
    return found;
}
