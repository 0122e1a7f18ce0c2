#include "scan.h"

#include <cassert>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const char CR = 0x0D;
const char LF = 0x0A;

// The type ('d', 'u', 'm') that a line ending of type TYPE is written as by
// the conversion from type FROM to type TO.
constexpr int written(int from, int to, int type)
{
    return type == from ? to : type;
}

template <int type>
void put_ending(FileStream& out)
{
    if (type != 'u')
        out.put_byte(CR);
    if (type != 'm')
        out.put_byte(LF);
}

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

    lane(__m128i cr_before, __m128i lf) : cr_before(cr_before), lf(lf) {}

    // The lane at P where the byte before it may not be read: CR_CARRY tells
    // whether it is a CR.
    static lane after(const char* p, bool cr_carry)
    {
        __m128i v = load(p);
        __m128i cr = _mm_slli_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(CR)), 1);
        return lane(_mm_or_si128(cr, _mm_cvtsi32_si128(cr_carry ? 0xFF : 0)),
                    _mm_cmpeq_epi8(v, _mm_set1_epi8(LF)));
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

// The bytes of a chunk, byte k as bit k: as wide as a register, so that the
// 32-bit build keeps its masks and its copies in registers too.
using chunk_mask = size_t;
const size_t chunk_size = 8 * sizeof(chunk_mask);
const chunk_mask top_bit = chunk_mask(1) << (chunk_size - 1);

// The offset of the lowest bit set in MASK, which is not 0.
size_t lowest_bit(chunk_mask mask)
{
    if constexpr (sizeof(chunk_mask) > sizeof(unsigned))
        return size_t(__builtin_ctzll(mask));
    else
        return size_t(__builtin_ctz(unsigned(mask)));
}

// A conversion changes one byte at each line ending it converts: from CR LF
// it deletes the CR or the LF; to CR LF it inserts a CR before a lone LF, or
// an LF after a lone CR; between the other two it replaces the lone byte.
template <int from, int to>
struct edit {
#ifdef __SSE2__
    // The bytes edited among the sixteen at P. The byte before P is looked at
    // only where FIRST is false; else CR_CARRY tells whether it is a CR.
    static __m128i at_lane(const char* p, bool first, bool cr_carry)
    {
        // A lane one byte on marks the byte after each CR of the kind.
        if constexpr (from == 'm' || to == 'u') {
            constexpr int kind = from == 'm' ? FOUND_MAC : FOUND_DOS;
            return lane(p + 1).hits<kind>();
        } else {
            const lane l = first ? lane::after(p, cr_carry) : lane(p);
            constexpr int kind = from == 'u' ? FOUND_UNIX : FOUND_DOS;
            return l.hits<kind>();
        }
    }
#else
    // Whether byte K of the chunk at P is edited; CR_CARRY tells whether the
    // byte before P is a CR. The kind of a CR is told by the byte after it.
    static bool at(const char* p, size_t k, bool cr_carry)
    {
        const bool cr_before = k == 0 ? cr_carry : p[k - 1] == CR;
        if constexpr (from == 'u')
            return p[k] == LF && !cr_before;
        else if constexpr (from == 'm')
            return p[k] == CR && p[k + 1] != LF;
        else if constexpr (to == 'u')
            return p[k] == CR && p[k + 1] == LF;
        else
            return p[k] == LF && cr_before;
    }
#endif

    // Where the byte is inserted, counted from the edited byte.
    static const size_t offset = from == 'm' && to == 'd';
    // The byte inserted, if any, and whether the edited byte is dropped.
    static const bool inserts = from != 'd';
    static const char inserted = from == 'u' ? CR : LF;
    static const bool drops = to != 'd';
    // Whether the edited byte is replaced, so that every byte keeps its place.
    static const bool replaces = inserts && drops;
};

// The edits of the chunk at P, byte k as bit k.
template <typename rule>
chunk_mask edit_mask(const char* p, bool cr_carry)
{
    chunk_mask m = 0;
#ifdef __SSE2__
    for (size_t q = 0; q < chunk_size; q += 16) {
        unsigned bits = unsigned(_mm_movemask_epi8(rule::at_lane(p + q, q == 0, cr_carry)));
        m |= chunk_mask(bits) << q;
    }
#else
    for (size_t k = 0; k < chunk_size; ++k)
        m |= chunk_mask(rule::at(p, k, cr_carry)) << k;
#endif
    return m;
}

// One step of the chunk at P: copies the bytes from RUN up to the lowest edit
// in M and makes the edit, or with no edit left copies the rest of the chunk
// (which leaves RUN at its end, so that a further step copies nothing).
// Either way a whole chunk's worth of bytes is copied, a copy of a fixed size
// that the compiler makes a few moves (msvcrt's memcpy is a call into the
// DLL, and under Wine a slow one); the next copy or edit overwrites what is
// past the run. The step takes no branch: every chunk takes fixed_steps
// steps however many edits it holds, and only one with more edits loops.
template <typename rule>
void step(const char* p, chunk_mask& m, const char*& run, char*& w)
{
    // Arithmetic rather than a choice, which the compiler would make a
    // branch: with no edit left, the top bit stands for it, one byte on.
    const size_t none = m == 0;
    const char* at = p + lowest_bit(m | top_bit) + (rule::offset | none);
    std::memcpy(w, run, chunk_size);
    w += at - run;
    if constexpr (rule::inserts) {
        *w = rule::inserted;
        w += 1 - none;
    }
    run = at + (rule::drops ? 1 - none : 0);
    m &= m - 1;
}

// The edit steps every chunk takes, as many as the line endings that a chunk
// of text holds most of the time, with lines of 30 to 40 bytes.
const size_t fixed_steps = chunk_size / 32;

// The edits of the chunk at P, written at W, a step for each and one for the
// rest; returns where the output goes on. CR_CARRY tells whether the byte
// before P is a CR.
template <typename rule>
char* edit_chunk(const char* p, char* w, bool cr_carry)
{
    chunk_mask m = edit_mask<rule>(p, cr_carry);
    const char* run = p;  // the first byte not written yet
    // Unrolled, the steps keep their pointers in registers: a seventh faster
    // where a byte is deleted.
#pragma GCC unroll 2
    for (size_t k = 0; k < fixed_steps; ++k)
        step<rule>(p, m, run, w);
    while (m != 0)
        step<rule>(p, m, run, w);
    step<rule>(p, m, run, w);
    return w;
}

// A replacing conversion of the chunk at P, written at W: each lone LF becomes
// a CR or each lone CR an LF. The bytes keep their places, so no step per
// line ending is needed: where the processor can, the chunk is taken a lane
// at a time. CR_CARRY tells whether the byte before P is a CR.
template <typename rule>
char* replace_chunk(const char* p, char* w, bool cr_carry)
{
#ifdef __SSE2__
    const __m128i swap = _mm_set1_epi8(CR ^ LF);
    for (size_t q = 0; q < chunk_size; q += 16) {
        __m128i edited = _mm_and_si128(rule::at_lane(p + q, q == 0, cr_carry), swap);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w + q),
                         _mm_xor_si128(lane::load(p + q), edited));
    }
#else
    for (size_t k = 0; k < chunk_size; ++k) {
        w[k] = rule::at(p, k, cr_carry) ? char(p[k] ^ (CR ^ LF)) : p[k];
    }
#endif
    return w + chunk_size;
}

// Converts the bytes that the input stream's buffer holds straight into the
// free space of the output stream's buffer, a chunk at a time. The chunks lie
// at fixed steps, so that finding the edits in one waits for nothing in the
// one before. Each chunk reads up to a chunk and a byte past it and writes up
// to three chunks: the loop stops where either buffer holds less, and the
// byte path takes the rest.
template <int from, int to>
void convert_buffered(FileStream& in, FileStream& out)
{
    using rule = edit<from, to>;
    const byte_span src = in.buffered();
    const room_span dst = out.room();
    const char* p = src.data;  // the first byte not converted yet
    char* w = dst.data;        // where its conversion goes
    // Whether the byte before P is a CR. Never where the chunks start: the
    // byte path takes the LF of a CR LF pair together with its CR.
    bool cr_carry = false;
    while (size_t(src.data + src.size - p) >= 2 * chunk_size + 1 &&
           size_t(dst.data + dst.size - w) >= 3 * chunk_size) {
        if constexpr (rule::replaces)
            w = replace_chunk<rule>(p, w, cr_carry);
        else
            w = edit_chunk<rule>(p, w, cr_carry);
        cr_carry = p[chunk_size - 1] == CR;
        p += chunk_size;
    }
    // A CR LF pair that the last chunk split: its LF is taken with it, and
    // kept but where pairs become lone CRs.
    if (cr_carry && *p == LF) {
        if constexpr (written(from, to, 'd') != 'm')
            *w++ = LF;
        ++p;
    }
    in.skip(size_t(p - src.data));
    out.commit(size_t(w - dst.data));
}

// The byte path takes the bytes one by one where the buffers do not let the
// chunks run: the first of each buffer that is read, the last few before the
// end of either buffer, and every byte where the C library gives no view of
// its buffers. The types the endings are written as are constants here, and
// each conversion its own code: the chunk loop then keeps what it needs in
// registers, which made it a quarter faster, the 32-bit build half again.
template <int from, int to>
void convert(FileStream& in, FileStream& out)
{
    for (int b; (b = in.get_byte()) != EOF;) {
        if (b == LF)
            put_ending<written(from, to, 'u')>(out);
        else if (b == CR && pair_completed(in))
            put_ending<written(from, to, 'd')>(out);
        else if (b == CR)
            put_ending<written(from, to, 'm')>(out);
        else
            out.put_byte(b);
        convert_buffered<from, to>(in, out);
    }
}

}  // namespace

void convert_line_endings(FileStream& in, FileStream& out, int from, int to)
{
    using converter = void (*)(FileStream&, FileStream&);
    const struct {
        int from;
        int to;
        converter run;
    } conversions[] = {
        {'d', 'u', convert<'d', 'u'>}, {'u', 'd', convert<'u', 'd'>}, {'d', 'm', convert<'d', 'm'>},
        {'m', 'd', convert<'m', 'd'>}, {'u', 'm', convert<'u', 'm'>}, {'m', 'u', convert<'m', 'u'>},
    };
    for (const auto& c : conversions) {
        if (c.from == from && c.to == to)
            return c.run(in, out);
    }
    assert(!"no such conversion");
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
