#include "Applications/Main/ImageBlocks.h"

#include "Applications/Main/ImageCrc.h"
#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar {

int32_t MeasureImage(PlatformFile* file)
{
    int32_t start = FileTell(file);
    if (start < 0 || FileSeek(file, 0, FILE_SEEK_END) != 0)
        return -1;
    int32_t size = FileTell(file);
    if (FileSeek(file, start, FILE_SEEK_SET) != 0)
        return -1;
    return size;
}

ImageProblem CheckImageSize(int32_t size)
{
    if (size < 0) {
        Print(u"\nFILE SIZE ERROR!! The image can't be measured.\n");
        return ImageProblem::CantMeasure;
    }
    if (size == 0) {
        Print(u"\nFILE SIZE ERROR!! The image is empty.\n");
        return ImageProblem::Empty;
    }
    if (size > MAX_IMAGE_SIZE) {
        Print(u"\nFILE SIZE ERROR!! The image has %d bytes; 255 blocks (%d bytes) at most.\n", size,
              MAX_IMAGE_SIZE);
        return ImageProblem::TooLarge;
    }
    return ImageProblem::None;
}

bool OpenImage(const char* name)
{
    RunState.ImageFile = FileOpen(name, "rb");
    if (RunState.ImageFile != nullptr)
        return true;
    Print(u"\nFILE NAME ERROR!!\n");
    return false;
}

ImageProblem SetUpImage(int32_t size)
{
    RunState.BlockCounter = 0;
    MarkPlace(RunStage::Blocks, 0);
    if (FileSeek(RunState.ImageFile, 0, FILE_SEEK_SET) != 0)
        return CheckImageSize(-1);

    RunState.ImageSize = size;
    RunState.ProgrammedBytes = 0;
    RunState.VerifiedBytes = 0;
    RunState.ImageBytesRead = 0;
    return ImageProblem::None;
}

bool AllocateBlockBuffers()
{
    RunState.Block = static_cast<uint8_t*>(MemAlloc(BLOCK_SIZE));
    return RunState.Block != nullptr;
}

bool AllocateRunBuffers()
{
    if (AllocateBlockBuffers())
        return true;
    Print(u"\nOUT OF MEMORY!! No room for the 64 KiB block buffers.\n");
    RunState.OutOfMemory = true;
    return false;
}

int32_t ImageBytesInBlock(uint8_t block)
{
    int32_t rest = RunState.ImageSize - block * static_cast<int32_t>(BLOCK_SIZE);
    return rest < static_cast<int32_t>(BLOCK_SIZE) ? rest : static_cast<int32_t>(BLOCK_SIZE);
}

void ReportImageReadError()
{
    Print(u"\n\rFILE READ ERROR!! The image could not be read past offset %x of %x bytes.\n",
          RunState.ImageBytesRead, RunState.ImageSize);
}

bool WalkImageBlocks(void (*each)(uint8_t block))
{
    while (!EcChannelDead()) {
        switch (ReadNextBlock()) {
        case BlockRead::End:
            return true;
        case BlockRead::ReadError:
            ReportImageReadError();
            return false;
        case BlockRead::Ready:
            each(static_cast<uint8_t>(RunState.BlockCounter - 1));
            break;
        }
    }
    return true;
}

void ReleaseBlockBuffers()
{
    MemFree(RunState.Block);
    RunState.Block = nullptr;
}

BlockRead ReadNextBlock()
{
    // The whole image has come in: the end, without another read.
    if (RunState.ImageBytesRead >= RunState.ImageSize)
        return BlockRead::End;

    // Two reads of 32 KiB, the second only when the first came in whole.
    uint8_t* low = RunState.Block;
    uint8_t* high = RunState.Block + HALF_BLOCK_SIZE;
    auto lowCount = static_cast<int32_t>(FileRead(low, 1, HALF_BLOCK_SIZE, RunState.ImageFile));
    int32_t highCount = 0;
    if (lowCount == static_cast<int32_t>(HALF_BLOCK_SIZE))
        highCount = static_cast<int32_t>(FileRead(high, 1, HALF_BLOCK_SIZE, RunState.ImageFile));
    FoldImageCrc(low, RunState.ImageBytesRead, lowCount + highCount);
    RunState.ImageBytesRead += lowCount + highCount;

    // Short of the measured size: the read failed (or the file shrank). Never
    // flash a block made partly of fill that should have been image.
    int32_t blockEnd = (RunState.BlockCounter + 1) * static_cast<int32_t>(BLOCK_SIZE);
    int32_t expected = RunState.ImageSize < blockEnd ? RunState.ImageSize : blockEnd;
    if (RunState.ImageBytesRead < expected) {
        RunState.ImageReadFailed = true;
        return BlockRead::ReadError;
    }

    MarkPlace(RunStage::Blocks, ++RunState.BlockCounter);
    int32_t count = lowCount + highCount;
    MemSet(RunState.Block + count, 0xFF, BLOCK_SIZE - count);
    return BlockRead::Ready;
}

}  // namespace zar
