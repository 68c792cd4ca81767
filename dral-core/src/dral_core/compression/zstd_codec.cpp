// zstd frames, compressed at one fixed level and decompressed in one shot into the declared size.
#include <zstd.h>
#include <zstd_errors.h>

#include <new>
#include <optional>

#include "dral_core/base/limits.hpp"
#include "dral_core/compression/codecs.hpp"

namespace dral_core {
namespace {

// zstd's own default. On the corpus (bench/bench_compression.py --levels) level 1 writes a third
// more bytes at about the same speed, and level 6 a tenth fewer at a third of the speed.
constexpr int kLevel = 3;

std::size_t zstd_bound(std::size_t size) { return ZSTD_compressBound(size); }

std::size_t zstd_compress(CodecState& state, std::span<const std::uint8_t> input,
                          std::uint8_t* out) {
    void*& context = state.zstd();
    if (context == nullptr) context = ZSTD_createCCtx();
    if (context == nullptr) return 0;  // stored uncompressed
    const std::size_t written =
        ZSTD_compressCCtx(static_cast<ZSTD_CCtx*>(context), out, ZSTD_compressBound(input.size()),
                          input.data(), input.size(), kLevel);
    return ZSTD_isError(written) ? 0 : written;
}

// The content size the frames state: their sum, or nullopt when a frame states none (other
// writers may leave it out, and may write several frames). Reads frame headers only.
Result<std::optional<std::uint64_t>> stated_content_size(std::span<const std::uint8_t> input) {
    std::uint64_t total = 0;
    bool known = true;
    for (std::size_t at = 0; at < input.size();) {
        const std::size_t frame =
            ZSTD_findFrameCompressedSize(input.data() + at, input.size() - at);
        if (ZSTD_isError(frame)) return fail(decompression_error(kZstdCodec, "not a zstd frame"));
        const unsigned long long content = ZSTD_getFrameContentSize(input.data() + at, frame);
        if (content == ZSTD_CONTENTSIZE_ERROR)
            return fail(decompression_error(kZstdCodec, "not a zstd frame"));
        if (content == ZSTD_CONTENTSIZE_UNKNOWN)
            known = false;
        else
            total = content > UINT64_MAX - total ? UINT64_MAX : total + content;
        at += frame;
    }
    if (!known) return std::nullopt;
    return total;
}

// The calling thread's decompression context, made once: a new one for each block costs more
// than decoding a small block. Every call starts a new frame, so a failed one leaves nothing
// behind for the next.
ZSTD_DCtx* thread_context() {
    struct Owner {
        ZSTD_DCtx* context = nullptr;
        ~Owner() { ZSTD_freeDCtx(context); }
    };
    thread_local Owner owner;
    if (owner.context == nullptr) {
        ZSTD_DCtx* context = ZSTD_createDCtx();
        if (context == nullptr) throw std::bad_alloc();
        ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kZstdLargestWindowLog);
        owner.context = context;
    }
    return owner.context;
}

Status zstd_decompress(std::span<const std::uint8_t> input, std::size_t size, ByteBuffer& out) {
    DRAL_ASSIGN_OR_RETURN(auto stated, stated_content_size(input));
    if (stated && *stated > size)
        return fail(decompression_error(kZstdCodec, "output longer than the declared size"));
    if (stated && *stated < size)
        return fail(decompression_error(kZstdCodec, "output shorter than the declared size"));
    ZSTD_DCtx* context = thread_context();
    out.clear();
    const std::size_t written =
        ZSTD_decompressDCtx(context, out.prepare(size), size, input.data(), input.size());
    if (ZSTD_isError(written)) {
        if (ZSTD_getErrorCode(written) == ZSTD_error_dstSize_tooSmall)
            return fail(decompression_error(kZstdCodec, "output longer than the declared size"));
        return fail(decompression_error(kZstdCodec, ZSTD_getErrorName(written)));
    }
    if (written < size)
        return fail(decompression_error(kZstdCodec, "output shorter than the declared size"));
    out.advance(size);
    return {};
}

}  // namespace

CodecState::~CodecState() { ZSTD_freeCCtx(static_cast<ZSTD_CCtx*>(zstd_)); }

// A run-length block of four bytes stands for up to 128 KiB. Of the corpus's 205,000 distinct
// values under 64 bytes, 13 shrink, by 9 bytes each, and trying costs libzstd 13,000
// instructions, four times the rest of encoding such a value.
const Codec kZstdCodec{"zstd", 32768, 64, zstd_bound, zstd_compress, zstd_decompress};

}  // namespace dral_core
