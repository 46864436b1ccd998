#include "Applications/Main/ImageCrc.h"

#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/RunState.h"
#include "platform/Crc32.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr size_t CHUNK_BYTES = 4096;
uint8_t gChunk[CHUNK_BYTES];

}  // namespace

void FoldImageCrc(const uint8_t* bytes, int32_t offset, int32_t count)
{
    if (offset != RunState.ImageCrcBytes || count <= 0)
        return;
    RunState.ImageCrc = Crc32(RunState.ImageCrc, bytes, static_cast<size_t>(count));
    RunState.ImageCrcBytes += count;
}

bool ImageCrc32(uint32_t* crc)
{
    PlatformFile* file = RunState.ImageFile;
    if (file == nullptr)
        return false;
    int32_t position = FileTell(file);
    bool whole = position >= 0 && FileSeek(file, RunState.ImageCrcBytes, FILE_SEEK_SET) == 0;
    while (whole && RunState.ImageCrcBytes <= MAX_IMAGE_SIZE) {
        auto got = static_cast<int32_t>(FileRead(gChunk, 1, CHUNK_BYTES, file));
        FoldImageCrc(gChunk, RunState.ImageCrcBytes, got);
        if (got < static_cast<int32_t>(CHUNK_BYTES)) {
            whole = !FileReadFailed(file);
            break;
        }
    }
    whole = whole && RunState.ImageCrcBytes <= MAX_IMAGE_SIZE;
    if (position >= 0)
        FileSeek(file, position, FILE_SEEK_SET);
    *crc = RunState.ImageCrc;
    return whole;
}

}  // namespace zar
