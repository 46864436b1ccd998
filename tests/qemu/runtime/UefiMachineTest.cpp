// The machine under UEFI: GetTime and SMBIOS type 1 through the configuration
// table, against tables built here, well-formed and not. Every table ends
// where a page without access begins, so a read past its end faults.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeFirmware.h"
#include "platform/Machine.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::test {
namespace {

EFI_GUID gSmbios3 = SMBIOS3_TABLE_GUID;
EFI_GUID gSmbios2 = SMBIOS_TABLE_GUID;

// A structure table: each structure's formatted area, then its strings.
class Structures {
public:
    Structures& Add(uint8_t type, std::vector<uint8_t> fields, const std::vector<std::string>& strings)
    {
        bytes_.insert(bytes_.end(), {type, static_cast<uint8_t>(4 + fields.size()), 0x00, 0x01});
        bytes_.insert(bytes_.end(), fields.begin(), fields.end());
        for (const std::string& s : strings) {
            bytes_.insert(bytes_.end(), s.begin(), s.end());
            bytes_.push_back(0);
        }
        if (strings.empty())
            bytes_.push_back(0);
        bytes_.push_back(0);
        return *this;
    }
    // Type 1 with string numbers for manufacturer, product, version, serial.
    Structures& System(std::vector<uint8_t> numbers, const std::vector<std::string>& strings)
    {
        numbers.resize(0x1B - 4, 0);
        return Add(1, numbers, strings);
    }
    Structures& End() { return Add(127, {}, {}); }
    std::vector<uint8_t> bytes_;
};

// A table's bytes where the firmware would have them: below 4 GiB (the 2.1
// entry point has a 32-bit address), right before a page that can't be read.
class LowCopy {
public:
    explicit LowCopy(const std::vector<uint8_t>& bytes) : size_(bytes.size())
    {
        const size_t page = 4096;
        length_ = (bytes.size() + page - 1) / page * page + page;
        void* map = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
        if (map == MAP_FAILED)
            abort();
        map_ = static_cast<uint8_t*>(map);
        mprotect(map_ + length_ - page, page, PROT_NONE);
        data_ = map_ + length_ - page - bytes.size();
        memcpy(data_, bytes.data(), bytes.size());
    }
    ~LowCopy() { munmap(map_, length_); }
    LowCopy(const LowCopy&) = delete;
    LowCopy& operator=(const LowCopy&) = delete;

    uintptr_t Address() const { return reinterpret_cast<uintptr_t>(data_); }
    size_t Size() const { return size_; }

private:
    uint8_t* map_;
    uint8_t* data_;
    size_t length_;
    size_t size_;
};

void Checksum(std::vector<uint8_t>& bytes, size_t at, size_t from, size_t count)
{
    uint8_t sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum = static_cast<uint8_t>(sum + (i == at ? 0 : bytes[i]));
    bytes[at] = static_cast<uint8_t>(-sum);
}

void Put(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Entry3(const LowCopy& table, uint32_t maxSize)
{
    std::vector<uint8_t> entry(0x18, 0);
    std::string anchor = "_SM3_";
    std::copy(anchor.begin(), anchor.end(), entry.begin());
    entry[6] = 0x18;
    entry[7] = 3;
    entry[0x0A] = 1;
    Put(entry, 0x0C, maxSize, 4);
    Put(entry, 0x10, table.Address(), 8);
    Checksum(entry, 5, 0, 0x18);
    return entry;
}

std::vector<uint8_t> Entry2(const LowCopy& table)
{
    std::vector<uint8_t> entry(0x1F, 0);
    std::string anchor = "_SM_", dmi = "_DMI_";
    std::copy(anchor.begin(), anchor.end(), entry.begin());
    std::copy(dmi.begin(), dmi.end(), entry.begin() + 0x10);
    entry[5] = 0x1F;
    entry[6] = 2;
    entry[7] = 8;
    Put(entry, 0x16, table.Size(), 2);
    Put(entry, 0x18, table.Address(), 4);
    Checksum(entry, 0x15, 0x10, 0x0F);
    Checksum(entry, 4, 0, 0x1F);
    return entry;
}

class Machine : public ::testing::Test {
protected:
    void SetUp() override { firmware_ = std::make_unique<FakeFirmware>(); }
    void TearDown() override { uefi::gFirmware = uefi::Firmware{}; }

    // The identity with these entry points in the configuration table.
    MachineIdentity Read(std::vector<EFI_CONFIGURATION_TABLE> tables)
    {
        firmware_->SetConfigurationTables(std::move(tables));
        MachineIdentity identity;
        memset(&identity, 'x', sizeof identity);  // stale text must not survive
        uefi::ReadSmbiosIdentity(firmware_->System(), &identity);
        return identity;
    }
    MachineIdentity Read3(const std::vector<uint8_t>& entry)
    {
        return Read({{gSmbios3, const_cast<uint8_t*>(entry.data())}});
    }

    std::unique_ptr<FakeFirmware> firmware_;
};

std::string Text(const MachineIdentity& m)
{
    return std::string(m.Manufacturer) + "|" + m.ProductName + "|" + m.SerialNumber;
}

TEST_F(Machine, TypeOneGivesManufacturerProductAndSerial)
{
    Structures s;
    s.Add(0, {1, 2, 0, 0}, {"EDK II", "unknown"})
        .System({1, 2, 3, 4}, {"  QEMU  ", "Standard PC (Q35 + ICH9, 2009)", "pc-q35", "ZAR-SN-0042 "})
        .End();
    LowCopy table(s.bytes_);
    std::vector<uint8_t> entry = Entry3(table, static_cast<uint32_t>(table.Size()));
    EXPECT_EQ(Text(Read3(entry)), "QEMU|Standard PC (Q35 + ICH9, 2009)|ZAR-SN-0042");

    // The same through the platform call, with the firmware set up as the
    // runtime does.
    uefi::gFirmware.System = firmware_->System();
    MachineIdentity identity;
    ReadFirmwareMachineIdentity(&identity);
    EXPECT_EQ(Text(identity), "QEMU|Standard PC (Q35 + ICH9, 2009)|ZAR-SN-0042");

    // 3.x is preferred; a 3.x entry point that fails its checks gives way to
    // 2.x.
    Structures other;
    other.System({1, 0, 0, 2}, {"OLD", "SN-2"}).End();
    LowCopy table2(other.bytes_);
    std::vector<uint8_t> entry2 = Entry2(table2);
    EXPECT_EQ(Text(Read({{gSmbios2, entry2.data()}})), "OLD||SN-2");
    EXPECT_EQ(Text(Read({{gSmbios2, entry2.data()}, {gSmbios3, entry.data()}})),
              "QEMU|Standard PC (Q35 + ICH9, 2009)|ZAR-SN-0042");
    entry[0x0C] ^= 1;  // checksum off
    EXPECT_EQ(Text(Read({{gSmbios3, entry.data()}, {gSmbios2, entry2.data()}})), "OLD||SN-2");
    EXPECT_EQ(Text(Read({})), "||");
}

TEST_F(Machine, StringsAreBoundedAndMissingOnesAreEmpty)
{
    std::string longText(200, 'L');
    Structures s;
    // Product is string 0 (none), serial string 5 of 2.
    s.System({1, 0, 0, 5}, {longText, "v"}).End();
    LowCopy table(s.bytes_);
    MachineIdentity m = Read3(Entry3(table, static_cast<uint32_t>(table.Size())));
    EXPECT_EQ(std::string(m.Manufacturer), longText.substr(0, IDENTITY_TEXT_MAX));
    EXPECT_EQ(std::string(m.ProductName), "");
    EXPECT_EQ(std::string(m.SerialNumber), "");

    // A 2.0 type 1 of 8 bytes has the serial; a shorter one has not.
    Structures shortOne;
    shortOne.Add(1, {1, 2, 0}, {"M", "P", "S"}).End();
    LowCopy shortTable(shortOne.bytes_);
    EXPECT_EQ(Text(Read3(Entry3(shortTable, static_cast<uint32_t>(shortTable.Size())))), "M|P|");
}

TEST_F(Machine, MalformedTablesGiveNothingAndAreNeverReadPastTheirEnd)
{
    Structures good;
    good.System({1, 2, 0, 3}, {"M", "P", "S"}).End();

    // The 3.x size is a maximum: the end structure stops the walk however
    // large it is.
    LowCopy exact(good.bytes_);
    EXPECT_EQ(Text(Read3(Entry3(exact, 0x100000))), "M|P|S");

    struct Case {
        const char* what;
        std::vector<uint8_t> table;
    };
    std::vector<Case> cases;
    {
        Structures s;
        s.Add(0, {}, {}).System({1, 2, 0, 3}, {"M", "P", "S"});
        cases.push_back({"structure length 3", s.bytes_});
        cases.back().table[1] = 3;  // below the header's four bytes
    }
    cases.push_back({"structure past the end", good.bytes_});
    cases.back().table[1] = 0xF0;
    cases.push_back({"strings without their end", good.bytes_});
    cases.back().table.resize(good.bytes_.size() - 8);  // the end structure and "S", NUL, NUL
    cases.push_back({"shorter than a header", {1, 0x1B, 0}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LowCopy table(c.table);
        EXPECT_EQ(Text(Read3(Entry3(table, static_cast<uint32_t>(table.Size())))), "||");
        EXPECT_EQ(Text(Read({{gSmbios2, Entry2(table).data()}})), "||");
    }

    // Entry points that fail their checks are not followed at all.
    std::vector<uint8_t> entry = Entry3(exact, static_cast<uint32_t>(exact.Size()));
    std::vector<std::vector<uint8_t>> broken(5, entry);
    broken[0][1] = 'X';    // anchor
    broken[1][5] ^= 0x40;  // checksum
    broken[2][6] = 0xFF;   // a length far past the structure
    Checksum(broken[2], 5, 0, 0x18);
    broken[3][7] = 2;      // major version 2 in a 3.x entry point
    Checksum(broken[3], 5, 0, 0x18);
    Put(broken[4], 0x10, 0, 8);  // no address
    Checksum(broken[4], 5, 0, 0x18);
    for (size_t i = 0; i < broken.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Text(Read3(broken[i])), "||");
    }
    std::vector<uint8_t> entry2 = Entry2(exact);
    entry2[0x16] ^= 1;  // the _DMI_ part's checksum fails; the whole one is redone
    Checksum(entry2, 4, 0, 0x1F);
    EXPECT_EQ(Text(Read({{gSmbios2, entry2.data()}})), "||");
}

TEST_F(Machine, GetTimeGivesTheClockAndAnImpossibleOneIsRefused)
{
    uefi::gFirmware.System = firmware_->System();
    firmware_->time = EFI_TIME{2026, 12, 7, 14, 3, 22, 0, 0, EFI_UNSPECIFIED_TIMEZONE, 0, 0};
    WallClock clock{};
    ASSERT_TRUE(ReadWallClock(&clock));
    EXPECT_EQ(clock.Year, 2026);
    EXPECT_EQ(clock.Month, 12);
    EXPECT_EQ(clock.Day, 7);
    EXPECT_EQ(clock.Hour, 14);
    EXPECT_EQ(clock.Minute, 3);
    EXPECT_EQ(clock.Second, 22);

    firmware_->time.Month = 13;
    EXPECT_FALSE(ReadWallClock(&clock));
    firmware_->time.Month = 12;
    firmware_->timeStatus = EFI_DEVICE_ERROR;
    EXPECT_FALSE(ReadWallClock(&clock));
}

}  // namespace
}  // namespace zar::test
