#include "Applications/Main/ImageBlocks.h"

#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "platform/Crc32.h"
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

namespace {

void PrintReadError(int32_t offset, int32_t size)
{
    Print(u"\n\rFILE READ ERROR!! The image could not be read past offset %x of %x bytes.\n", offset, size);
}

// Reads size bytes from the start of the file into image, in the 32 KiB
// pieces the blocks were once read in. Returns how many bytes came in.
int32_t ReadPieces(PlatformFile* file, uint8_t* image, int32_t size)
{
    if (FileSeek(file, 0, FILE_SEEK_SET) != 0)
        return 0;
    int32_t done = 0;
    while (done < size) {
        int32_t want = size - done < static_cast<int32_t>(HALF_BLOCK_SIZE) ? size - done
                                                                           : static_cast<int32_t>(HALF_BLOCK_SIZE);
        auto got = static_cast<int32_t>(FileRead(image + done, 1, static_cast<size_t>(want), file));
        done += got;
        if (got < want)
            break;  // failed, or the file is shorter than it measured
    }
    return done;
}

ImageProblem CheckWholeImage(int32_t size, int32_t got)
{
    if (got < size) {
        RunState.ImageReadFailed = true;
        PrintReadError(got, size);
        return ImageProblem::Unreadable;
    }
    // A file that grew while it was read would have its end left out.
    int32_t now = MeasureImage(RunState.ImageFile);
    if (now < 0)
        return CheckImageSize(now);
    if (now != size) {
        Print(u"\nFILE SIZE ERROR!! The image changed from %d to %d bytes while it was read.\n", size, now);
        return ImageProblem::SizeChanged;
    }
    return ImageProblem::None;
}

}  // namespace

ImageProblem ReadWholeImage(int32_t size)
{
    RunState.Image = static_cast<uint8_t*>(MemAlloc(static_cast<size_t>(size)));
    if (RunState.Image == nullptr) {
        Print(u"\nOUT OF MEMORY!! No room for the image's %d bytes.\n", size);
        RunState.OutOfMemory = true;
        return ImageProblem::NoMemory;
    }
    ImageProblem problem = CheckWholeImage(size, ReadPieces(RunState.ImageFile, RunState.Image, size));
    if (problem == ImageProblem::None) {
        RunState.ImageCrc = Crc32(0, RunState.Image, static_cast<size_t>(size));
        RunState.ImageCrcKnown = true;
    }
    // From here on the run works from memory alone: the medium may go.
    FileClose(RunState.ImageFile);
    RunState.ImageFile = nullptr;
    return problem;
}

void ReleaseImage()
{
    MemFree(RunState.Image);
    RunState.Image = nullptr;
}

void SetUpImage(int32_t size)
{
    RunState.ImageSize = size;
    RewindImage();
    RunState.ProgrammedBytes = 0;
    RunState.VerifiedBytes = 0;
}

void RewindImage()
{
    RunState.BlockCounter = 0;
    RunState.ImageBytesRead = 0;
    MarkPlace(RunStage::Blocks, 0);
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

void WalkImageBlocks(bool (*each)(uint8_t block))
{
    while (!EcChannelDead() && ReadNextBlock()) {
        if (!each(static_cast<uint8_t>(RunState.BlockCounter - 1)))
            return;
    }
}

void ReleaseBlockBuffers()
{
    MemFree(RunState.Block);
    RunState.Block = nullptr;
}

bool ReadNextBlock()
{
    if (RunState.Image == nullptr || RunState.ImageBytesRead >= RunState.ImageSize)
        return false;
    CopyImageBlock(RunState.BlockCounter);
    RunState.ImageBytesRead += ImageBytesInBlock(RunState.BlockCounter);
    MarkPlace(RunStage::Blocks, ++RunState.BlockCounter);
    return true;
}

void CopyImageBlock(uint8_t block)
{
    int32_t count = ImageBytesInBlock(block);
    MemCopy(RunState.Block, RunState.Image + block * BLOCK_SIZE, static_cast<size_t>(count));
    MemSet(RunState.Block + count, 0xFF, BLOCK_SIZE - static_cast<size_t>(count));
}

}  // namespace zar
