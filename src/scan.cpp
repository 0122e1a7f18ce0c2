#include "scan.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

const int found_all = FOUND_DOS | FOUND_UNIX | FOUND_MAC;

// The kind of line ending that the byte B ends, given whether the byte
// before it is a CR: the kind of a CR is told by the byte after it.
int kind_at(bool cr_before, char b)
{
    if (b == LF)
        return cr_before ? FOUND_DOS : FOUND_UNIX;
    return cr_before ? FOUND_MAC : 0;
}

#ifdef __SSE2__
// Sixteen bytes at P as two masks: CR_BEFORE marks each byte whose byte
// before is a CR (the load starts one byte early: the byte before the lane
// is its carry), LF each LF. A byte marked in both ends a CR LF pair, one in
// LF alone a lone LF, one in CR_BEFORE alone a lone CR.
struct lane {
    __m128i cr_before;
    __m128i lf;

    explicit lane(const char* p)
        : cr_before(_mm_cmpeq_epi8(load(p - 1), _mm_set1_epi8(CR))),
          lf(_mm_cmpeq_epi8(load(p), _mm_set1_epi8(LF)))
    {
    }

    static __m128i load(const char* p)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }

    // The bytes at which a line ending of a kind in MISSING ends: the union
    // of those kinds' masks, which takes one operation or none.
    template <int missing>
    __m128i hits() const
    {
        if constexpr (missing == found_all)
            return _mm_or_si128(cr_before, lf);
        else if constexpr (missing == (FOUND_DOS | FOUND_UNIX))
            return lf;
        else if constexpr (missing == (FOUND_DOS | FOUND_MAC))
            return cr_before;
        else if constexpr (missing == (FOUND_UNIX | FOUND_MAC))
            return _mm_xor_si128(cr_before, lf);
        else if constexpr (missing == FOUND_DOS)
            return _mm_and_si128(cr_before, lf);
        else if constexpr (missing == FOUND_UNIX)
            return _mm_andnot_si128(cr_before, lf);
        else
            return _mm_andnot_si128(lf, cr_before);
    }

    // The kinds of every line ending that ends in the lane.
    int kinds() const
    {
        int c = _mm_movemask_epi8(cr_before);
        int l = _mm_movemask_epi8(lf);
        return ((c & l) != 0 ? FOUND_DOS : 0) | ((l & ~c) != 0 ? FOUND_UNIX : 0) |
               ((c & ~l) != 0 ? FOUND_MAC : 0);
    }
};

bool any(__m128i mask)
{
    return _mm_movemask_epi8(mask) != 0;
}

// The offset of the first lane from offset I of P on in which a line ending
// of a kind in MISSING ends; past the last whole lane before N if none does.
// Four lanes are tested at once, which halves the work per byte; the lane
// that hit is then found one lane at a time.
template <int missing>
size_t next_hit(const char* p, size_t i, size_t n)
{
    for (; i + 64 <= n; i += 64) {
        __m128i low = _mm_or_si128(lane(p + i).hits<missing>(), lane(p + i + 16).hits<missing>());
        __m128i high =
            _mm_or_si128(lane(p + i + 32).hits<missing>(), lane(p + i + 48).hits<missing>());
        if (any(_mm_or_si128(low, high)))
            break;
    }
    for (; i + 16 <= n; i += 16) {
        if (any(lane(p + i).hits<missing>()))
            break;
    }
    return i;
}

// next_hit for each set of kinds still missing, 1 to 7, at [missing - 1].
size_t (*const next_hits[])(const char*, size_t, size_t) = {
    next_hit<1>, next_hit<2>, next_hit<3>, next_hit<4>, next_hit<5>, next_hit<6>, next_hit<7>,
};
#endif

// What the detector has seen so far: the kinds found, and whether the last
// byte was a CR, whose kind the next byte tells.
struct detection {
    int found = 0;
    bool cr_before = false;

    void add(char b)
    {
        found |= kind_at(cr_before, b);
        cr_before = b == CR;
    }

    // Where the processor can, the bytes are looked at a lane at a time, for
    // the kinds not found yet only; a lane in which one of them ends is
    // classified in full, so no more than three lanes of a file ever are.
    // Once every kind is found, nothing is left to look for.
    void add(byte_span bytes)
    {
        const char* p = bytes.data;
        size_t i = 0;
#ifdef __SSE2__
        if (bytes.size > 16) {
            // The first byte on its own, so that each lane has a byte before it.
            add(p[0]);
            for (i = 1; found != found_all; i += 16) {
                i = next_hits[found_all - found - 1](p, i, bytes.size);
                if (i + 16 > bytes.size)
                    break;
                found |= lane(p + i).kinds();
            }
            cr_before = p[i - 1] == CR;
        }
#endif
        for (; i < bytes.size && found != found_all; ++i)
            add(p[i]);
    }

    // A CR as the last byte is a lone one.
    int result() const
    {
        return found | (cr_before ? FOUND_MAC : 0);
    }
};

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

// Every CR is classified by the byte after it, and that byte is still looked
// at for itself (CR CR LF is a lone CR, then a CR LF pair), as the converter
// reads it again. Each read refills the stream's buffer when it is empty,
// and the rest of the buffer is taken in one step. The file is read to its
// end even once every kind is found: a read error there must be seen.
int detect_line_endings(FileStream& in)
{
    detection seen;
    for (int b; (b = in.get_byte()) != EOF;) {
        seen.add(static_cast<char>(b));
        seen.add(in.get_buffered());
    }
    return seen.result();
}
