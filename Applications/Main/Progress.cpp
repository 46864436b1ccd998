#include "Applications/Main/Progress.h"

#include "Applications/Main/RunState.h"
#include "platform/Machine.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr uint64_t REDRAW_MS = 1000;
// Wide enough to clear any line drawn; the console is 80 columns.
constexpr char16_t SPACES[] = u"                                                                                ";
constexpr uint32_t SPACE_COUNT = sizeof SPACES / sizeof SPACES[0] - 1;

int32_t Share(const Progress& progress)
{
    if (progress.Total == 0)
        return 100;
    return static_cast<int32_t>(uint64_t{progress.Done} * 100 / progress.Total);
}

bool ReadClock(const Progress& progress, uint64_t* now)
{
    return progress.Clock && ReadMilliseconds(now) && *now >= progress.StartMs;
}

// "M:SS", minutes as many as it takes.
struct Time {
    uint32_t Minutes;
    uint32_t Seconds;
};
Time TimeOf(uint64_t ms)
{
    uint64_t seconds = ms / 1000;
    return {static_cast<uint32_t>(seconds / 60), static_cast<uint32_t>(seconds % 60)};
}

// The line as it stands, redrawn (draw) or printed; the characters it took.
size_t Show(const Progress& progress, bool draw)
{
    size_t (*out)(const char16_t*, ...) = draw ? Redraw : Print;
    size_t width = out(draw ? u"\r%s%d %%  %u bytes" : u"%s%d %%  %u bytes", progress.Label, Share(progress),
                       progress.Done);
    uint64_t now = 0;
    if (!ReadClock(progress, &now))
        return width;
    uint64_t spent = now - progress.StartMs;
    Time time = TimeOf(spent);
    width += out(u"  %u:%02u spent", time.Minutes, time.Seconds);
    if (draw && progress.Done > 0 && progress.Done < progress.Total && spent >= REDRAW_MS) {
        Time left = TimeOf(spent * (progress.Total - progress.Done) / progress.Done);
        width += out(u", about %u:%02u left", left.Minutes, left.Seconds);
    }
    return width;
}

}  // namespace

uint32_t ProgressStep(uint32_t total, uint32_t unit)
{
    auto step = static_cast<uint32_t>(BLOCK_SIZE);
    while (step > unit && step > total / 100)
        step /= 2;
    return step;
}

void ProgressBegin(Progress* progress, const char16_t* label, uint32_t total)
{
    *progress = {label, total, 0, -1, false, 0, 0, 0};
    progress->Clock = ReadMilliseconds(&progress->StartMs);
    progress->DrawnMs = progress->StartMs;
}

void ProgressAdd(Progress* progress, uint32_t bytes)
{
    progress->Done = bytes > progress->Total - progress->Done ? progress->Total : progress->Done + bytes;
    uint64_t now = 0;
    bool second = ReadClock(*progress, &now) && now - progress->DrawnMs >= REDRAW_MS;
    if (Share(*progress) == progress->Shown && !second)
        return;
    progress->Shown = Share(*progress);
    progress->DrawnMs = now;
    auto width = static_cast<uint32_t>(Show(*progress, true));
    progress->Width = width > progress->Width ? width : progress->Width;
}

void ProgressClear(Progress* progress)
{
    if (progress->Width == 0)
        return;
    uint32_t width = progress->Width < SPACE_COUNT ? progress->Width : SPACE_COUNT;
    Redraw(u"\r%s\r", SPACES + (SPACE_COUNT - width));
    progress->Width = 0;
    progress->Shown = -1;
}

void ProgressEnd(Progress* progress)
{
    ProgressClear(progress);
    Show(*progress, false);
}

}  // namespace zar
