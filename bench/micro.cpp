// Throughput of the line-ending scanners alone, on streams held in memory, so
// that a change to the byte path can be judged without the noise of a disk.
// Every case reports bytes of input per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "scan.h"

namespace {

// Small enough that the text, its output and both stream buffers stay in the
// processor's cache: what is measured is the byte loop, not memory copies.
const size_t text_size = 1 << 20;

// Lines of printable text of 0 to 79 bytes (40 on average, like source code
// and prose), each ended by ENDING. The sequence is fixed, so every run
// measures the same bytes.
std::string make_text(const char* ending)
{
    std::string text;
    text.reserve(text_size + 128);
    unsigned seed = 12345;
    while (text.size() < text_size) {
        seed = seed * 1103515245u + 12345u;
        size_t len = (seed >> 16) % 80;
        for (size_t i = 0; i < len; ++i)
            text += char(' ' + (seed + i * 7) % 95);
        text += ending;
    }
    return text;
}

// The worst case: nothing but line endings of every type, a lone CR (whose
// next byte is pushed back) among them.
std::string make_endings()
{
    std::string text;
    while (text.size() < text_size)
        text += "\r\r\n\n";
    return text;
}

// The text of one type of line ending ('d', 'u', 'm'), or of nothing but
// line endings ('e').
const std::string& text_for(int type)
{
    static const std::string dos = make_text("\r\n");
    static const std::string unix_text = make_text("\n");
    static const std::string mac = make_text("\r");
    static const std::string endings = make_endings();
    return type == 'd' ? dos : type == 'u' ? unix_text : type == 'm' ? mac : endings;
}

// Buffers of the tool's size (stream_buffer_size) for the two streams of a case. The C library
// applies a buffer size only when it is given the buffer too.
char stream_buffers[2][stream_buffer_size];

FILE* memory_stream(void* buf, size_t size, const char* mode, char* stream_buffer)
{
    FILE* f = fmemopen(buf, size, mode);
    if (f)
        setvbuf(f, stream_buffer, _IOFBF, stream_buffer_size);
    return f;
}

// The input stream over a text and the output stream over a buffer that
// outlives the measured loop, so no iteration pays for fresh pages.
struct memory_pair {
    FileStream in;
    FileStream sink;

    memory_pair(std::string& text, std::string& out)
    {
        in.stream = memory_stream(&text[0], text.size(), "rb", stream_buffers[0]);
        sink.stream = memory_stream(&out[0], out.size(), "wb", stream_buffers[1]);
    }
};

// A converted text is at most twice its source (every LF becoming CR LF).
std::string output_for(const std::string& text)
{
    return std::string(2 * text.size() + 1, '\0');
}

void convert(benchmark::State& state, int from, int to, int text_type)
{
    set_wide_scans(state.range(0) != 0);
    std::string text = text_for(text_type);
    std::string out = output_for(text);
    for (auto _ : state) {
        memory_pair io(text, out);
        convert_line_endings(io.in, io.sink, from, to);
        benchmark::DoNotOptimize(io.sink.close());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void detect(benchmark::State& state, int type)
{
    set_wide_scans(state.range(0) != 0);
    std::string text = text_for(type);
    for (auto _ : state) {
        FileStream in;
        in.stream = memory_stream(&text[0], text.size(), "rb", stream_buffers[0]);
        benchmark::DoNotOptimize(detect_line_endings(in));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// The floor of the byte path: every byte read and written through the same
// streams with no look at its value. No conversion can be faster.
void plain_copy(benchmark::State& state)
{
    std::string text = text_for('d');
    std::string out = output_for(text);
    for (auto _ : state) {
        memory_pair io(text, out);
        for (int b; (b = io.in.get_byte()) != EOF;)
            io.sink.put_byte(b);
        benchmark::DoNotOptimize(io.sink.close());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// Each case of the scanners runs with the wider vector paths off (0) and on (1).
void on_both_paths(benchmark::internal::Benchmark* b)
{
    b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(plain_copy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(convert, du, 'd', 'u', 'd')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, ud, 'u', 'd', 'u')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, dm, 'd', 'm', 'd')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, md, 'm', 'd', 'm')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, um, 'u', 'm', 'u')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, mu, 'm', 'u', 'm')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, du_endings_only, 'd', 'u', 'e')->Apply(on_both_paths);
BENCHMARK_CAPTURE(convert, mu_endings_only, 'm', 'u', 'e')->Apply(on_both_paths);
BENCHMARK_CAPTURE(detect, crlf, 'd')->Apply(on_both_paths);
BENCHMARK_CAPTURE(detect, lf, 'u')->Apply(on_both_paths);
BENCHMARK_CAPTURE(detect, cr, 'm')->Apply(on_both_paths);
BENCHMARK_CAPTURE(detect, endings_only, 'e')->Apply(on_both_paths);

BENCHMARK_MAIN();
