#include "sim/SpiNorChip.h"

#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar::sim {
namespace {

constexpr uint8_t SR_AAI = 0x40;    // SST: set while in AAI mode
constexpr uint32_t PAGE_BUFFER = 256;

// SO is not driven (unknown opcode, command refused, nothing to send). The
// EC's SPI unit reads that as 0x00, which is what sends the flasher from
// RDID to RES on parts that only know RES.
constexpr uint8_t UNDRIVEN = 0x00;

uint32_t PowerOfTwoAtMost(uint32_t value)
{
    uint32_t p = 1;
    while (p <= value / 2)
        p *= 2;
    return value ? p : 0;
}

}  // namespace

void SpiNorChip::Init(const ChipInfo& info, const ChipConfig& config, uint8_t* contents, SimClock* clock)
{
    info_ = &info;
    config_ = config;
    contents_ = contents;
    clock_ = clock;
    stats_ = Counters{};
    random_ = SimRandom(config.Busy.Seed);

    // Sizes are powers of two on every real part; anything else is cut down
    // so that no address can leave the caller's buffer.
    uint32_t size = PowerOfTwoAtMost(info.Part->Size);
    mask_ = size ? size - 1 : 0;
    uint32_t page = PowerOfTwoAtMost(info.Part->PageSize < PAGE_BUFFER ? info.Part->PageSize : PAGE_BUFFER);
    pageMask_ = page ? page - 1 : 0;

    // A locked part stands for SRWD/BPL set with WP# held low: protected,
    // SRWD reads 1, and no status write gets through.
    status_ = info.PowerUpProtected || config.Faults.ProtectionLocked ? info.ProtectBits : 0;
    if (config.Faults.ProtectionLocked)
        status_ = static_cast<uint8_t>(status_ | SR_SRWD);
    selected_ = false;
    ewsrArmed_ = false;
    aai_ = false;
    stuckBusy_ = false;
    realTiming_ = config.RealTiming && clock != nullptr;
    phase_ = Phase::Ignored;
    next_ = Phase::Done;
    opcode_ = 0;
    addressLeft_ = 0;
    dataCount_ = 0;
    overrun_ = false;
    address_ = 0;
    pageOffset_ = 0;
    pageSent_ = 0;
    readIndex_ = 0;
    aaiAddress_ = 0;
    busyReads_ = 0;
    busyUntil_ = 0;
    operations_ = 0;
    flipReads_ = 0;
}

SpiNorChip::Kept SpiNorChip::Keep()
{
    Deselect();
    busyReads_ = 0;
    busyUntil_ = 0;
    stuckBusy_ = false;
    return {status_, aai_, aaiAddress_};
}

void SpiNorChip::Resume(const Kept& kept)
{
    status_ = kept.Status;
    aai_ = kept.Aai;
    aaiAddress_ = kept.AaiAddress;
}

void SpiNorChip::NextRun()
{
    config_.Faults = ChipFaults{};
    stuckBusy_ = false;
    if (phase_ == Phase::ReadFlipping)
        phase_ = Phase::ReadData;
}

bool SpiNorChip::Busy() const
{
    if (stuckBusy_)
        return true;
    return realTiming_ ? clock_->Now < busyUntil_ : busyReads_ > 0;
}

uint8_t SpiNorChip::Status() const
{
    return static_cast<uint8_t>(status_ | (Busy() ? SR_WIP : 0) | (aai_ ? SR_AAI : 0));
}

void SpiNorChip::StartOperation(uint32_t typicalUs)
{
    if (++operations_ > config_.Faults.BusyForeverAfterOps)
        stuckBusy_ = true;
    stats_.TypicalBusyNs += uint64_t{typicalUs} * 1000;
    if (realTiming_) {
        uint64_t ns = uint64_t{typicalUs} * 1000;
        busyUntil_ = clock_->Now + ns;
        stats_.BusyNs += ns;
        return;
    }
    const ReadDelay& busy = config_.Busy;
    busyReads_ = busy.Mode == ReadDelay::Fixed    ? busy.Count
                 : busy.Mode == ReadDelay::Random ? random_.Below(busy.Count)
                                                  : 0;
}

void SpiNorChip::Select()
{
    if (selected_)
        Deselect();
    selected_ = true;
    phase_ = Phase::Opcode;
    overrun_ = false;
    dataCount_ = 0;
    pageSent_ = 0;
}

void SpiNorChip::Write(uint8_t value)
{
    if (phase_ == Phase::PageData) {
        page_[pageOffset_] = value;
        pageOffset_ = (pageOffset_ + 1) & pageMask_;
        ++pageSent_;
        return;
    }
    switch (phase_) {
    case Phase::Opcode:
        Begin(value);
        break;
    case Phase::Address:
        address_ = (address_ << 8) | value;
        if (--addressLeft_ == 0)
            AddressComplete();
        break;
    case Phase::Dummy:
        phase_ = ArrayRead();
        break;
    case Phase::ByteData:
    case Phase::StatusData:
        // The first byte counts (a second WRSR byte goes to a second status
        // register this model does not have).
        if (dataCount_ == 0)
            data_[dataCount_++] = value;
        break;
    case Phase::AaiData:
        if (dataCount_ < (opcode_ == AAI_WORD_PROGRAM ? 2 : 1))
            data_[dataCount_++] = value;
        else
            overrun_ = true;
        break;
    case Phase::Done:
        // Chip select must rise right after the last byte, or the command
        // is not executed.
        overrun_ = true;
        break;
    default:
        break;  // host bytes while the chip talks, or after a refusal
    }
}

uint8_t SpiNorChip::Read()
{
    // The hot path: a fault that watches array reads is armed per
    // transaction (ArrayRead), so plain reads test nothing else.
    if (phase_ == Phase::ReadData)
        return contents_[address_++ & mask_];
    return ReadSlow();
}

uint8_t SpiNorChip::ReadSlow()
{
    switch (phase_) {
    case Phase::ReadFlipping: {
        const ChipFaults& faults = config_.Faults;
        uint32_t at = address_++ & mask_;
        uint8_t value = contents_[at];
        if (at == (faults.FlipAddress & mask_) && ++flipReads_ == faults.FlipOnRead)
            value ^= 0x01;
        return value;
    }
    case Phase::StatusRead: {
        uint8_t status = Status();
        if (busyReads_ > 0)
            --busyReads_;
        return status;
    }
    case Phase::IdRead:
        // Past the three ID bytes SO is not driven (Atmel sends its extended
        // information length there, 0x00, which reads the same).
        if (!info_->Part->AnswersRdid || readIndex_ >= 3)
            return UNDRIVEN;
        return info_->Part->Rdid[readIndex_++];
    case Phase::ResRead: {
        // Maker and device alternate for as long as the clock runs (PMC's
        // continuation code follows them); an odd address starts with the
        // device byte.
        uint8_t continuation = info_->ResContinuation;
        uint32_t at = readIndex_++ % (continuation ? 3 : 2);
        return at < 2 ? info_->Part->ResId[at] : continuation;
    }
    default:
        return UNDRIVEN;
    }
}

void SpiNorChip::Begin(uint8_t opcode)
{
    opcode_ = opcode;
    if (info_ == nullptr || contents_ == nullptr) {
        phase_ = Phase::Ignored;
        return;
    }
    if (opcode == RDSR) {
        phase_ = Phase::StatusRead;  // always, busy or not, in AAI mode or not
        return;
    }
    bool known = true;
    if (Busy()) {
        known = false;  // while busy only RDSR is decoded
    } else if (aai_) {
        // AAI mode takes only RDSR, further AAI commands (data only) and WRDI.
        if (opcode == WRDI)
            phase_ = Phase::Done;
        else if (opcode == (info_->Method == ProgramMethod::AaiWord ? AAI_WORD_PROGRAM : AAI_BYTE_PROGRAM))
            phase_ = Phase::AaiData;
        else
            known = false;
    } else {
        known = BeginIdle(opcode);
    }
    if (!known) {
        phase_ = Phase::Ignored;
        Refuse();
    }
}

// An opcode the idle chip decodes: its phase; false when the part does not
// know it.
bool SpiNorChip::BeginIdle(uint8_t opcode)
{
    auto withAddress = [this](Phase next) {
        phase_ = Phase::Address;
        next_ = next;
        addressLeft_ = 3;
        address_ = 0;
    };
    const ChipInfo& info = *info_;
    bool known = true;
    switch (opcode) {
    case RDID:
        phase_ = Phase::IdRead;
        readIndex_ = 0;
        break;
    case RES:
        withAddress(Phase::ResRead);
        break;
    case READ:
        withAddress(ArrayRead());
        break;
    case FAST_READ:
        withAddress(Phase::Dummy);
        break;
    case WREN:
    case WRDI:
        phase_ = Phase::Done;
        break;
    case EWSR:
        known = info.HasEwsr;
        phase_ = Phase::Done;
        break;
    case WRSR:
        phase_ = Phase::StatusData;
        break;
    case SECTOR_ERASE:
        known = info.Part->SectorEraseUnit != 0;
        withAddress(Phase::Done);
        break;
    case BLOCK_ERASE:
        known = info.Part->BlockEraseUnit != 0;
        withAddress(Phase::Done);
        break;
    case PAGE_PROGRAM:
        withAddress(info.Method == ProgramMethod::Page ? Phase::PageData : Phase::ByteData);
        break;
    case AAI_BYTE_PROGRAM:
        known = info.Method == ProgramMethod::AaiByte;
        withAddress(Phase::AaiData);
        break;
    case AAI_WORD_PROGRAM:
        known = info.Method == ProgramMethod::AaiWord;
        withAddress(Phase::AaiData);
        break;
    default:
        known = false;
        break;
    }
    return known;
}

void SpiNorChip::AddressComplete()
{
    phase_ = next_;
    if (phase_ == Phase::PageData) {
        pageOffset_ = address_ & pageMask_;
        MemSet(page_, 0xFF, pageMask_ + 1);
    } else if (phase_ == Phase::ResRead) {
        readIndex_ = address_ & 1;
    }
}

void SpiNorChip::WriteStatus(bool ewsrArmed)
{
    bool enabled = ewsrArmed || ((status_ & SR_WEL) && !info_->WrsrNeedsEwsr);
    if (!enabled || config_.Faults.ProtectionLocked) {
        Refuse();
        return;
    }
    uint8_t protect = info_->ProtectBits;
    status_ = static_cast<uint8_t>((status_ & ~(protect | SR_WEL)) | (data_[0] & protect));
    ++stats_.StatusWrites;
    StartOperation(info_->StatusWriteTypUs);
}

void SpiNorChip::Deselect()
{
    if (!selected_)
        return;
    selected_ = false;
    Phase phase = phase_;
    phase_ = Phase::Ignored;
    if (phase == Phase::Opcode)
        return;  // chip select without a clock: nothing happened
    bool armed = ewsrArmed_;
    ewsrArmed_ = false;  // EWSR enables only the command right after it
    if (overrun_)
        return;

    switch (opcode_) {
    case WREN:
        if (phase == Phase::Done)
            status_ |= SR_WEL;
        break;
    case WRDI:
        if (phase == Phase::Done) {
            status_ &= static_cast<uint8_t>(~SR_WEL);
            aai_ = false;
        }
        break;
    case EWSR:
        if (phase == Phase::Done)
            ewsrArmed_ = true;
        break;
    case WRSR:
        if (phase == Phase::StatusData && dataCount_ > 0)
            WriteStatus(armed);
        break;
    case SECTOR_ERASE:
        if (phase == Phase::Done)
            Erase(info_->Part->SectorEraseUnit, info_->SectorEraseTypUs);
        break;
    case BLOCK_ERASE:
        if (phase == Phase::Done)
            Erase(info_->Part->BlockEraseUnit, info_->BlockEraseTypUs);
        break;
    case PAGE_PROGRAM:
        if (phase == Phase::PageData && pageSent_ != 0 && MayWrite()) {
            ProgramPage();
        } else if (phase == Phase::ByteData && dataCount_ > 0 && MayWrite()) {
            ProgramBytes(address_, data_, 1);
            status_ &= static_cast<uint8_t>(~SR_WEL);
            ++stats_.Programs;
            ++stats_.BytesProgrammed;
            StartOperation(info_->ProgramTypUs);
        }
        break;
    case AAI_BYTE_PROGRAM:
    case AAI_WORD_PROGRAM:
        // An AAI command cut short (the flasher leaves its last one empty)
        // programs nothing and leaves AAI mode as it was.
        if (phase == Phase::AaiData && dataCount_ == (opcode_ == AAI_WORD_PROGRAM ? 2 : 1))
            ProgramAai();
        break;
    default:
        break;
    }
}

bool SpiNorChip::MayWrite()
{
    // Protection is modelled for the whole array: any protect bit set
    // refuses every erase and program.
    if (!(status_ & SR_WEL) || (status_ & info_->ProtectBits)) {
        Refuse();
        return false;
    }
    return true;
}

void SpiNorChip::Erase(uint32_t unit, uint32_t typicalUs)
{
    if (!MayWrite())
        return;
    uint32_t size = mask_ + 1;
    if (unit > size)
        unit = size;
    uint32_t at = address_ & mask_;
    uint32_t base = at - at % unit;
    MemSet(contents_ + base, 0xFF, unit);
    status_ &= static_cast<uint8_t>(~SR_WEL);
    ++stats_.Erases;
    stats_.BlockErases += opcode_ == BLOCK_ERASE ? 1 : 0;
    StartOperation(typicalUs);
}

void SpiNorChip::ProgramBytes(uint32_t address, const uint8_t* data, uint32_t count)
{
    const ChipFaults& faults = config_.Faults;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t at = (address + i) & mask_;
        contents_[at] &= data[i];
        if (faults.HasStuckBits && at == (faults.StuckAddress & mask_))
            contents_[at] |= faults.StuckMask;
    }
}

void SpiNorChip::ProgramPage()
{
    // Bytes the command did not send are 0xFF in the buffer and leave their
    // cells alone; a command longer than the page kept its last PageSize bytes.
    ProgramBytes(address_ & ~pageMask_, page_, pageMask_ + 1);
    status_ &= static_cast<uint8_t>(~SR_WEL);
    ++stats_.Programs;
    stats_.BytesProgrammed += pageSent_ < pageMask_ + 1 ? pageSent_ : pageMask_ + 1;
    StartOperation(info_->ProgramTypUs);
}

void SpiNorChip::ProgramAai()
{
    uint32_t count = opcode_ == AAI_WORD_PROGRAM ? 2 : 1;
    if (!aai_) {
        if (!MayWrite())
            return;
        // AAI word programming starts at an even address whatever A0 says.
        aaiAddress_ = address_ & mask_ & ~(count - 1);
    }
    ProgramBytes(aaiAddress_, data_, count);
    ++stats_.Programs;
    stats_.BytesProgrammed += count;
    StartOperation(info_->ProgramTypUs);
    aaiAddress_ += count;
    aai_ = true;
    if (aaiAddress_ > mask_) {
        // The highest address ends AAI mode and resets WEL.
        aai_ = false;
        status_ &= static_cast<uint8_t>(~SR_WEL);
    }
}

}  // namespace zar::sim
