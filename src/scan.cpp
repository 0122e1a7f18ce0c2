#include "scan.h"

#include <cassert>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
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
// Functions that use wider instructions than the build's own carry their
// target; they run only where the processor has them (see wide_paths).
#define TARGET_AVX2 __attribute__((target("avx2")))
#define TARGET_VBMI2 __attribute__((target("avx512vbmi2,avx512vl,avx512bw,bmi2,popcnt")))

// The lanes are written with the compiler's vector operators, and their
// rules of which bytes end which kinds serve integer masks of bits as well.
using vec16 = signed char __attribute__((vector_size(16)));

vec16 load(const char* p)
{
    vec16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The byte masks of M, byte k as bit k.
unsigned bits(vec16 m)
{
    return unsigned(_mm_movemask_epi8(__m128i(m)));
}

// Two masks over the same bytes, each a vector of byte masks or an integer
// of bits (T): CR_BEFORE marks each byte whose byte before is a CR, LF each
// LF. A byte marked in both ends a CR LF pair, one in LF alone a lone LF,
// one in CR_BEFORE alone a lone CR.
template <typename T>
struct lane {
    T cr_before;
    T lf;

    // The sixteen bytes at P; the load starts one byte early: the byte
    // before the lane is its carry.
    explicit lane(const char* p) : cr_before(load(p - 1) == CR), lf(load(p) == LF) {}

    lane(T cr_before, T lf) : cr_before(cr_before), lf(lf) {}

    // The lane of sixteen bytes at P where the byte before it may not be
    // read: CR_CARRY tells whether it is a CR.
    static lane after(const char* p, bool cr_carry)
    {
        const vec16 v = load(p);
        const vec16 cr = vec16(_mm_slli_si128(__m128i(v == CR), 1));
        return lane(cr | vec16(_mm_cvtsi32_si128(cr_carry ? 0xFF : 0)), v == LF);
    }

    // The bytes at which a line ending of a kind in MISSING ends: the union
    // of those kinds' masks, which takes one operation or none.
    template <int missing>
    T hits() const
    {
        if constexpr (missing == found_all)
            return cr_before | lf;
        else if constexpr (missing == (FOUND_DOS | FOUND_UNIX))
            return lf;
        else if constexpr (missing == (FOUND_DOS | FOUND_MAC))
            return cr_before;
        else if constexpr (missing == (FOUND_UNIX | FOUND_MAC))
            return cr_before ^ lf;
        else if constexpr (missing == FOUND_DOS)
            return cr_before & lf;
        else if constexpr (missing == FOUND_UNIX)
            return ~cr_before & lf;
        else
            return ~lf & cr_before;
    }

    // The kinds of every line ending that ends in the lane.
    int kinds() const
    {
        unsigned c = bits(cr_before);
        unsigned l = bits(lf);
        return ((c & l) != 0 ? FOUND_DOS : 0) | ((l & ~c) != 0 ? FOUND_UNIX : 0) |
               ((c & ~l) != 0 ? FOUND_MAC : 0);
    }
};

// The offset of the first lane from offset I of P on in which a line ending
// of a kind in MISSING ends; past the last whole lane before N if none does.
// Four lanes are tested at once, which halves the work per byte; the lane
// that hit is then found one lane at a time.
template <int missing>
size_t next_hit(const char* p, size_t i, size_t n)
{
    for (; i + 64 <= n; i += 64) {
        vec16 low = lane<vec16>(p + i).hits<missing>() | lane<vec16>(p + i + 16).hits<missing>();
        vec16 high =
            lane<vec16>(p + i + 32).hits<missing>() | lane<vec16>(p + i + 48).hits<missing>();
        if (bits(low | high) != 0)
            break;
    }
    for (; i + 16 <= n; i += 16) {
        if (bits(lane<vec16>(p + i).hits<missing>()) != 0)
            break;
    }
    return i;
}

// The thirty-two bytes at P as bits, byte k as bit k, with AVX2; CR and LF
// hold those bytes in every place.
TARGET_AVX2 lane<unsigned> lane_of_32(const char* p, __m256i cr, __m256i lf)
{
    const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p - 1));
    const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return lane<unsigned>(unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(before, cr))),
                          unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(at, lf))));
}

// next_hit with AVX2, 128 bytes at a time until one of them holds a hit.
// The upper halves of the registers are cleared before the SSE2 code goes
// on, which would otherwise wait on them at every instruction.
template <int missing>
TARGET_AVX2 size_t next_hit_wide(const char* p, size_t i, size_t n)
{
    const __m256i cr = _mm256_set1_epi8(CR);
    const __m256i lf = _mm256_set1_epi8(LF);
    for (; i + 128 <= n; i += 128) {
        const unsigned low = lane_of_32(p + i, cr, lf).hits<missing>() |
                             lane_of_32(p + i + 32, cr, lf).hits<missing>();
        const unsigned high = lane_of_32(p + i + 64, cr, lf).hits<missing>() |
                              lane_of_32(p + i + 96, cr, lf).hits<missing>();
        if ((low | high) != 0)
            break;
    }
    _mm256_zeroupper();
    return next_hit<missing>(p, i, n);
}

// next_hit for each set of kinds still missing, 1 to 7, at [missing - 1].
using hit_finder = size_t (*)(const char*, size_t, size_t);
const hit_finder next_hits[] = {
    next_hit<1>, next_hit<2>, next_hit<3>, next_hit<4>, next_hit<5>, next_hit<6>, next_hit<7>,
};
const hit_finder next_hits_wide[] = {
    next_hit_wide<1>, next_hit_wide<2>, next_hit_wide<3>, next_hit_wide<4>,
    next_hit_wide<5>, next_hit_wide<6>, next_hit_wide<7>,
};
#endif

// Which of the wider paths this run takes: those the processor has, unless
// set_wide_scans turned them off.
struct wide_paths {
    bool report;   // AVX2
    bool convert;  // AVX-512's VBMI2, VL and BW, and BMI2
};

wide_paths supported_paths()
{
#ifdef __SSE2__
    __builtin_cpu_init();
    return {__builtin_cpu_supports("avx2") != 0,
            __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx512vl") &&
                __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi2") &&
                __builtin_cpu_supports("popcnt")};
#else
    return {false, false};
#endif
}

wide_paths wide = supported_paths();

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
            const hit_finder* finders = wide.report ? next_hits_wide : next_hits;
            for (i = 1; found != found_all; i += 16) {
                i = finders[found_all - found - 1](p, i, bytes.size);
                if (i + 16 > bytes.size)
                    break;
                found |= lane<vec16>(p + i).kinds();
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
    static vec16 at_lane(const char* p, bool first, bool cr_carry)
    {
        if constexpr (by_next)
            return lane<vec16>(p + 1).hits<kind>();
        const lane<vec16> l = first ? lane<vec16>::after(p, cr_carry) : lane<vec16>(p);
        return l.hits<kind>();
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

    // The kind of line ending edited. A CR is edited where it is the whole
    // line ending or deleted from a pair, and then marked by the byte after
    // it (BY_NEXT): a lane one byte on marks it.
    static const int kind = from == 'm' ? FOUND_MAC : from == 'u' ? FOUND_UNIX : FOUND_DOS;
    static const bool by_next = from == 'm' || to == 'u';

    // Where the byte is inserted, counted from the edited byte.
    static const size_t offset = from == 'm' && to == 'd';
    // The byte inserted, if any, and whether the edited byte is dropped.
    static const bool inserts = from != 'd';
    static const char inserted = from == 'u' ? CR : LF;
    static const bool drops = to != 'd';
    // Whether the edited byte is replaced, so that every byte keeps its place.
    static const bool replaces = inserts && drops;
};

// The edits of the chunk at P, byte k as bit k. CR_CARRY tells whether the
// byte before P is a CR, and is then set to tell whether the chunk's last
// byte is one, for the chunk after it.
template <typename rule>
chunk_mask edit_mask(const char* p, bool& cr_carry)
{
    chunk_mask m = 0;
#ifdef __SSE2__
    for (size_t q = 0; q < chunk_size; q += 16)
        m |= chunk_mask(bits(rule::at_lane(p + q, q == 0, cr_carry))) << q;
#else
    for (size_t k = 0; k < chunk_size; ++k)
        m |= chunk_mask(rule::at(p, k, cr_carry)) << k;
#endif
    cr_carry = p[chunk_size - 1] == CR;
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
// rest; returns where the output goes on. CR_CARRY as for edit_mask.
template <typename rule>
char* edit_chunk(const char* p, char* w, bool& cr_carry)
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
// at a time. CR_CARRY as for edit_mask.
template <typename rule>
char* replace_chunk(const char* p, char* w, bool& cr_carry)
{
    // Read before the stores below, which the read would otherwise wait on.
    const bool cr_last = p[chunk_size - 1] == CR;
#ifdef __SSE2__
    for (size_t q = 0; q < chunk_size; q += 16) {
        const vec16 out = load(p + q) ^ (rule::at_lane(p + q, q == 0, cr_carry) & (CR ^ LF));
        std::memcpy(w + q, &out, sizeof out);
    }
#else
    for (size_t k = 0; k < chunk_size; ++k) {
        w[k] = rule::at(p, k, cr_carry) ? char(p[k] ^ (CR ^ LF)) : p[k];
    }
#endif
    cr_carry = cr_last;
    return w + chunk_size;
}

// The chunk loop over the bytes that the input stream's buffer holds,
// converted straight into the free space of the output stream's buffer. The
// chunks lie at fixed steps, so that finding the edits in one waits for
// nothing in the one before. Each chunk reads up to a chunk and a byte past
// it and writes up to three chunks: the loop stops where either buffer holds
// less, and the byte path takes the rest.
template <int from, int to>
struct chunk_loop {
    const byte_span src;
    const room_span dst;
    const char* p;  // the first byte not converted yet
    char* w;        // where its conversion goes
    // Whether the byte before P is a CR, which each chunk's conversion sets
    // for the next. Never where the chunks start: the byte path takes the LF
    // of a CR LF pair together with its CR.
    bool cr_carry = false;

    chunk_loop(FileStream& in, FileStream& out)
        : src(in.buffered()), dst(out.room()), p(src.data), w(dst.data)
    {
    }

    bool more() const
    {
        return size_t(src.data + src.size - p) >= 2 * chunk_size + 1 &&
               size_t(dst.data + dst.size - w) >= 3 * chunk_size;
    }

    // The chunk at P converted, its output ending at END.
    void next(char* end)
    {
        w = end;
        p += chunk_size;
    }

    // A CR LF pair that the last chunk split: its LF is taken with it, and
    // kept but where pairs become lone CRs.
    void finish(FileStream& in, FileStream& out)
    {
        if (cr_carry && *p == LF) {
            if constexpr (written(from, to, 'd') != 'm')
                *w++ = LF;
            ++p;
        }
        in.skip(size_t(p - src.data));
        out.commit(size_t(w - dst.data));
    }
};

template <int from, int to>
void convert_buffered(FileStream& in, FileStream& out)
{
    using rule = edit<from, to>;
    chunk_loop<from, to> c(in, out);
    while (c.more()) {
        if constexpr (rule::replaces)
            c.next(replace_chunk<rule>(c.p, c.w, c.cr_carry));
        else
            c.next(edit_chunk<rule>(c.p, c.w, c.cr_carry));
    }
    c.finish(in, out);
}

#ifdef __SSE2__
// AVX-512's byte compare, blend, compress and expand, and BMI2's bit deposit
// and extract, at the width of a chunk and of half a chunk: 64 and 32 bytes,
// 32 and 16 in the 32-bit build, whose chunks are as wide as its registers.
#ifdef __x86_64__
// The bytes of the 64 at P that KEEP marks, in order, written at W.
TARGET_VBMI2 void compress_to(char* w, const char* p, chunk_mask keep)
{
    _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(keep, _mm512_loadu_si512(p)));
}

// The bytes from P on written at W, in order, in the places that PLACES
// marks among 64, as many bytes as it marks; every other place gets FILL.
// The load reads 64 bytes.
TARGET_VBMI2 void expand_to(char* w, const char* p, chunk_mask places, char fill)
{
    _mm512_storeu_si512(
        w, _mm512_mask_expand_epi8(_mm512_set1_epi8(fill), places, _mm512_loadu_si512(p)));
}

// The bytes of the 64 at P that equal C.
TARGET_VBMI2 chunk_mask equal_bits(const char* p, char c)
{
    return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8(c));
}

// The 64 bytes at P written at W, each that FLIP marks XORed with X.
TARGET_VBMI2 void flip_to(char* w, const char* p, chunk_mask flip, char x)
{
    const __m512i v = _mm512_loadu_si512(p);
    _mm512_storeu_si512(w,
                        _mm512_mask_blend_epi8(flip, v, _mm512_xor_si512(v, _mm512_set1_epi8(x))));
}

TARGET_VBMI2 chunk_mask deposit(chunk_mask bits, chunk_mask places)
{
    return _pdep_u64(bits, places);
}

TARGET_VBMI2 chunk_mask extract(chunk_mask bits, chunk_mask places)
{
    return _pext_u64(bits, places);
}
#else
TARGET_VBMI2 void compress_to(char* w, const char* p, chunk_mask keep)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), _mm256_maskz_compress_epi8(keep, v));
}

TARGET_VBMI2 void expand_to(char* w, const char* p, chunk_mask places, char fill)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w),
                        _mm256_mask_expand_epi8(_mm256_set1_epi8(fill), places, v));
}

TARGET_VBMI2 chunk_mask equal_bits(const char* p, char c)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    return _mm256_cmpeq_epi8_mask(v, _mm256_set1_epi8(c));
}

TARGET_VBMI2 void flip_to(char* w, const char* p, chunk_mask flip, char x)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(w),
                        _mm256_mask_blend_epi8(flip, v, _mm256_xor_si256(v, _mm256_set1_epi8(x))));
}

TARGET_VBMI2 chunk_mask deposit(chunk_mask bits, chunk_mask places)
{
    return _pdep_u32(bits, places);
}

TARGET_VBMI2 chunk_mask extract(chunk_mask bits, chunk_mask places)
{
    return _pext_u32(bits, places);
}
#endif

TARGET_VBMI2 size_t bit_count(chunk_mask m)
{
    return size_t(__builtin_popcountll(m));
}

// edit_mask with a compare per chunk for each of CR and LF. The carry to the
// next chunk comes from the compare too: read from memory again, the chunk's
// last byte made the loop wait on the stores before it, and took half the
// speed of the conversions that use it.
template <typename rule>
TARGET_VBMI2 chunk_mask edit_mask_wide(const char* p, bool& cr_carry)
{
    const chunk_mask cr = equal_bits(p, CR);
    const chunk_mask cr_before = cr << 1 | chunk_mask(cr_carry);
    cr_carry = (cr & top_bit) != 0;
    if constexpr (rule::by_next)
        return lane<chunk_mask>(cr, equal_bits(p + 1, LF)).template hits<rule::kind>();
    return lane<chunk_mask>(cr_before, equal_bits(p, LF)).template hits<rule::kind>();
}

// The edits of the chunk at P made with AVX-512, with no step per line ending:
// a blend replaces the edited bytes, compress drops them in one instruction,
// and expand spreads the bytes of each half chunk to make room for the inserted
// ones. For expand, each byte has two places in a row, its own and one for a
// byte inserted before it (after it where the rule inserts after the edited
// byte), the latter used only where the byte is edited: each byte's place in
// the output is the rank of its own among the places used, which a bit deposit
// and a bit extract compute.
template <typename rule>
TARGET_VBMI2 char* edit_chunk_wide(const char* p, char* w, bool& cr_carry)
{
    const chunk_mask m = edit_mask_wide<rule>(p, cr_carry);
    if constexpr (rule::replaces) {
        flip_to(w, p, m, CR ^ LF);
        return w + chunk_size;
    }
    if constexpr (!rule::inserts) {
        compress_to(w, p, ~m);
        return w + chunk_size - bit_count(m);
    }
    const size_t half = chunk_size / 2;
    const chunk_mask low_places = ~chunk_mask(0) / 3;  // every other place: 0101...
    const chunk_mask inserted = rule::offset ? low_places << 1 : low_places;
    // Each expand reads a whole chunk from its half on: the loop leaves two
    // chunks and a byte to read.
    for (size_t h = 0; h < chunk_size; h += half) {
        const chunk_mask edits = (m >> h) & ((chunk_mask(1) << half) - 1);
        const chunk_mask used = ~inserted | deposit(edits, inserted);
        expand_to(w, p + h, extract(~inserted, used), rule::inserted);
        w += half + bit_count(edits);
    }
    return w;
}

template <int from, int to>
TARGET_VBMI2 void convert_buffered_wide(FileStream& in, FileStream& out)
{
    chunk_loop<from, to> c(in, out);
    while (c.more())
        c.next(edit_chunk_wide<edit<from, to>>(c.p, c.w, c.cr_carry));
    c.finish(in, out);
}
#else
// Without SSE2 there is no wider path.
template <int from, int to>
void convert_buffered_wide(FileStream& in, FileStream& out)
{
    convert_buffered<from, to>(in, out);
}
#endif

// The byte path takes the bytes one by one where the buffers do not let the
// chunks run: the first of each buffer that is read, the last few before the
// end of either buffer, and every byte where the C library gives no view of
// its buffers; BUFFERED runs the chunks. The types the endings are written
// as are constants here, and each conversion its own code: the chunk loop
// then keeps what it needs in registers, which made it a quarter faster, the
// 32-bit build half again.
template <int from, int to, void (*buffered)(FileStream&, FileStream&)>
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
        buffered(in, out);
    }
}

using converter = void (*)(FileStream&, FileStream&);

struct conversion {
    int from;
    int to;
    converter base;
    converter wide;
};

template <int from, int to>
constexpr conversion conversion_of()
{
    return {from, to, convert<from, to, convert_buffered<from, to>>,
            convert<from, to, convert_buffered_wide<from, to>>};
}

}  // namespace

void set_wide_scans(bool on)
{
    const wide_paths supported = supported_paths();
    wide = {on && supported.report, on && supported.convert};
}

void convert_line_endings(FileStream& in, FileStream& out, int from, int to)
{
    const conversion conversions[] = {
        conversion_of<'d', 'u'>(), conversion_of<'u', 'd'>(), conversion_of<'d', 'm'>(),
        conversion_of<'m', 'd'>(), conversion_of<'u', 'm'>(), conversion_of<'m', 'u'>(),
    };
    for (const auto& c : conversions) {
        if (c.from == from && c.to == to) {
            const converter run = wide.convert ? c.wide : c.base;
            return run(in, out);
        }
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
