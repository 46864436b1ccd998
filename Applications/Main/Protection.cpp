#include "Applications/Main/Protection.h"

#include "Applications/Main/Rerun.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UpdatePlan.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

const char16_t* WhatThePartLacks(PartFit fit)
{
    switch (fit) {
    case PartFit::NoSectorErase:
        return u"it has no 4 KiB sector erase (0x20), the erase this command sends";
    case PartFit::NoBlockErase:
        return u"it has no 64 KiB block erase (0xD8), the erase this command sends";
    case PartFit::NoPageProgram:
        return u"it has no 256-byte page program (0x02), which the flasher programs it with";
    case PartFit::Writable:
        break;
    }
    return u"";
}

const char* PartName()
{
    const FlashPart* part = RunState.Chip.Known.Part;
    return part ? part->Name : "chip";
}

// The rerun, once the change is made (what: "run it again", "run it instead"):
// with p while the EC stays in follow mode (it can't answer the module
// check), as given once it is handed back.
void AdviseRerun(const Arguments& args, bool handedBack, const char16_t* what)
{
    if (handedBack) {
        Print(u" %s:", what);
        AdviseCommandAsChanged(args);
        return;
    }
    Print(u" %s, with p, as an EC in follow mode can't answer the module check:", what);
    AdviseRerunWithP(args);
}

}  // namespace

bool ProtectionCleared(uint8_t status)
{
    uint8_t held = static_cast<uint8_t>(status & ProtectBitsOf(RunState.Chip));
    if (held == 0)
        return true;
    bool pin = (status & SR_SRWD) != 0;
    RunState.Protection = {pin ? ProtectionHolder::StatusRegister : ProtectionHolder::PartLock, status,
                           PartFit::Writable, false};
    Print(u"\n\rWRITE PROTECTED!! The status register reads %02X after the unprotect: its protect bits (%02X) stay"
          u" set. Nothing was erased or written.\n",
          status, held);
    if (pin)
        Print(u"Held by          : SRWD (bit 7) with the chip's WP# pin held low: the register takes no write\n");
    else
        Print(u"Held by          : the part itself: it ignores the status write though SRWD is clear\n");
    return false;
}

bool PartWritableWith(uint8_t eraseOpcode, bool classicLine)
{
    const FlashChip& chip = RunState.Chip;
    PartFit fit = PartFitFor(chip, eraseOpcode);
    if (fit == PartFit::Writable)
        return true;
    uint8_t status = FlashReadStatus();
    if (EcChannelDead())
        return false;  // the way out says which wait ran out
    bool update = classicLine && PartFitFor(chip, UpdateEraseOpcode(EraseUnitsOf(chip))) == PartFit::Writable;
    RunState.Protection = {ProtectionHolder::PartUnfit, status, fit, update};
    Print(u"\n\rWRITE PROTECTED!! This command can't write the %a; its status register reads %02X. Nothing was"
          u" erased or written.\n",
          PartName(), status);
    Print(u"Held by          : the part: %s\n", WhatThePartLacks(fit));
    return false;
}

bool ProtectionHeld()
{
    return RunState.Protection.Holder != ProtectionHolder::None;
}

void AdviseAfterProtection(const Arguments& args, bool handedBack)
{
    const ProtectionNote& note = RunState.Protection;
    Print(handedBack ? u"\n\rNothing was written, and the EC is handed back to its firmware.\n"
                     : u"\n\rNothing was written: the chip holds what it held before this run.\n");
    RunState.Rerun = RerunAdvice::None;
    switch (note.Holder) {
    case ProtectionHolder::StatusRegister:
        Print(u"Release the chip's WP# pin first (the board's write-protect jumper, strap or switch), so that the"
              u" protect bits can be cleared; then");
        AdviseRerun(args, handedBack, u"run it again");
        break;
    case ProtectionHolder::PartLock:
        Print(u"Nothing the flasher sends clears this chip's protection: write it with an external programmer, or"
              u" replace it.\n");
        break;
    case ProtectionHolder::PartUnfit:
        if (!note.UpdateWrites) {
            Print(u"No command of this flasher writes the %a: write it with an external programmer.\n", PartName());
            break;
        }
        RunState.RerunChange.AsUpdate = true;
        Print(u"/update writes this part with the erase it has;");
        AdviseRerun(args, handedBack, u"run it instead");
        break;
    case ProtectionHolder::None:
        break;
    }
}

}  // namespace zar
