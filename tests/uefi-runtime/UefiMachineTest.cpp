// The machine under UEFI: GetTime, and SMBIOS type 1 through the
// configuration table, on tables built here. Each table ends where a page
// without access begins, so reading past its end faults.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>

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

// Structures: type, length, handle, the fields, then the strings and a NUL.
std::vector<uint8_t> Structure(uint8_t type, std::vector<uint8_t> fields, std::vector<std::string> strings)
{
    fields.insert(fields.begin(), {type, static_cast<uint8_t>(4 + fields.size()), 0x00, 0x01});
    for (const std::string& text : strings)
        fields.insert(fields.end(), text.c_str(), text.c_str() + text.size() + 1);
    fields.resize(fields.size() + (strings.empty() ? 2 : 1), 0);
    return fields;
}
// Type 1 with the string numbers of manufacturer, product, version, serial.
std::vector<uint8_t> System(std::vector<uint8_t> numbers, std::vector<std::string> strings)
{
    numbers.resize(0x1B - 4, 0);
    return Structure(1, numbers, strings);
}
std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Below 4 GiB (the 2.1 entry point's address has 32 bits), a guard page after.
class LowCopy {
public:
    explicit LowCopy(const std::vector<uint8_t>& bytes) : size_(bytes.size())
    {
        length_ = (size_ + 4095) / 4096 * 4096 + 4096;
        map_ = static_cast<uint8_t*>(
            mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0));
        if (map_ == MAP_FAILED)
            abort();
        mprotect(map_ + length_ - 4096, 4096, PROT_NONE);
        memcpy(map_ + length_ - 4096 - size_, bytes.data(), size_);
    }
    ~LowCopy() { munmap(map_, length_); }
    uint64_t Address() const { return reinterpret_cast<uintptr_t>(map_ + length_ - 4096 - size_); }
    size_t Size() const { return size_; }

private:
    uint8_t* map_;
    size_t length_, size_;
};

void Put(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void Checksum(std::vector<uint8_t>& bytes, size_t at, size_t from, size_t count)
{
    bytes[at] = 0;
    uint8_t sum = 0;
    for (size_t i = from; i < from + count; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[at] = static_cast<uint8_t>(-sum);
}
std::vector<uint8_t> Entry3(const LowCopy& table, uint64_t maxSize = 0)
{
    std::vector<uint8_t> e = {'_', 'S', 'M', '3', '_', 0, 0x18, 3, 0, 0, 1, 0};
    e.resize(0x18);
    Put(e, 0x0C, maxSize ? maxSize : table.Size(), 4);
    Put(e, 0x10, table.Address(), 8);
    Checksum(e, 5, 0, 0x18);
    return e;
}
std::vector<uint8_t> Entry2(const LowCopy& table)
{
    std::vector<uint8_t> e = {'_', 'S', 'M', '_', 0, 0x1F, 2, 8};
    e.resize(0x1F);
    memcpy(&e[0x10], "_DMI_", 5);
    Put(e, 0x16, table.Size(), 2);
    Put(e, 0x18, table.Address(), 4);
    Checksum(e, 0x15, 0x10, 0x0F);
    Checksum(e, 4, 0, 0x1F);
    return e;
}

class Machine : public ::testing::Test {
protected:
    void TearDown() override { uefi::gFirmware = uefi::Firmware{}; }
    // "manufacturer|product|serial" with these entry points in the table.
    std::string Read(std::vector<std::pair<EFI_GUID, std::vector<uint8_t>*>> entries)
    {
        std::vector<EFI_CONFIGURATION_TABLE> tables;
        for (auto& [guid, entry] : entries)
            tables.push_back({guid, entry->data()});
        firmware_.SetConfigurationTables(tables);
        MachineIdentity m;
        memset(&m, 'x', sizeof m);  // nothing stale may survive
        uefi::ReadSmbiosIdentity(firmware_.System(), &m);
        return std::string(m.Manufacturer) + "|" + m.ProductName + "|" + m.SerialNumber;
    }
    std::string Read3(std::vector<uint8_t> entry) { return Read({{gSmbios3, &entry}}); }

    FakeFirmware firmware_;
};

TEST_F(Machine, TypeOneGivesManufacturerProductAndSerial)
{
    LowCopy table(Join({Structure(0, {1, 2, 0, 0}, {"EDK II", "1.0"}),
                        System({1, 2, 3, 4}, {"  QEMU  ", "Standard PC (Q35)", "pc-q35", "ZAR-SN-0042 "}),
                        Structure(127, {}, {})}));
    std::vector<uint8_t> entry3 = Entry3(table);
    EXPECT_EQ(Read({{gSmbios3, &entry3}}), "QEMU|Standard PC (Q35)|ZAR-SN-0042");
    uefi::gFirmware.System = firmware_.System();
    MachineIdentity m;
    ReadFirmwareMachineIdentity(&m);
    EXPECT_STREQ(m.SerialNumber, "ZAR-SN-0042");

    // 3.x first; 2.x when 3.x is missing or fails its checks.
    LowCopy old(Join({System({1, 0, 0, 2}, {"OLD", "SN-2"}), Structure(127, {}, {})}));
    std::vector<uint8_t> entry2 = Entry2(old);
    EXPECT_EQ(Read({{gSmbios2, &entry2}}), "OLD||SN-2");
    EXPECT_EQ(Read({{gSmbios2, &entry2}, {gSmbios3, &entry3}}), "QEMU|Standard PC (Q35)|ZAR-SN-0042");
    entry3[0x0C] ^= 1;
    EXPECT_EQ(Read({{gSmbios3, &entry3}, {gSmbios2, &entry2}}), "OLD||SN-2");
    EXPECT_EQ(Read({}), "||");

    // Long text is cut; string 0 and a number past the last are nothing; a
    // 2.0 type 1 shorter than 8 bytes has no serial.
    LowCopy odd(Join({System({1, 0, 0, 5}, {std::string(200, 'L'), "v"}), Structure(127, {}, {})}));
    EXPECT_EQ(Read3(Entry3(odd)), std::string(IDENTITY_TEXT_MAX, 'L') + "||");
    LowCopy shortOne(Join({Structure(1, {1, 2, 0}, {"M", "P", "S"}), Structure(127, {}, {})}));
    EXPECT_EQ(Read3(Entry3(shortOne)), "M|P|");
}

TEST_F(Machine, MalformedTablesGiveNothingAndAreNeverReadPastTheirEnd)
{
    const std::vector<uint8_t> good = Join({System({1, 2, 0, 3}, {"M", "P", "S"}), Structure(127, {}, {})});
    LowCopy exact(good);
    EXPECT_EQ(Read3(Entry3(exact, 0x100000)), "M|P|S") << "type 127 ends a 3.x table before its maximum";

    std::vector<uint8_t> tooShort = Join({Structure(0, {}, {}), good});
    tooShort[1] = 3;  // a length below the header's four bytes
    std::vector<uint8_t> pastEnd = good;
    pastEnd[1] = 0xF0;
    std::vector<uint8_t> unterminated(good.begin(), good.end() - 8);  // cut after "S": no NUL pair
    for (const std::vector<uint8_t>& bytes : {tooShort, pastEnd, unterminated, std::vector<uint8_t>{1, 0x1B, 0}}) {
        LowCopy table(bytes);
        EXPECT_EQ(Read3(Entry3(table)), "||");
        std::vector<uint8_t> entry2 = Entry2(table);
        EXPECT_EQ(Read({{gSmbios2, &entry2}}), "||");
    }

    // Entry points that fail their checks are not followed.
    std::vector<std::vector<uint8_t>> broken(5, Entry3(exact));
    broken[0][1] = 'X';    // anchor
    broken[1][5] ^= 0x40;  // checksum
    broken[2][6] = 0xFF;   // a length far past the entry point
    broken[3][7] = 2;      // major version 2
    Put(broken[4], 0x10, 0, 8);  // no address
    for (size_t i = 2; i < broken.size(); ++i)
        Checksum(broken[i], 5, 0, 0x18);
    for (std::vector<uint8_t>& entry : broken)
        EXPECT_EQ(Read3(entry), "||");
    std::vector<uint8_t> entry2 = Entry2(exact);
    entry2[0x16] ^= 1;  // the _DMI_ part's checksum fails, the whole one holds
    Checksum(entry2, 4, 0, 0x1F);
    EXPECT_EQ(Read({{gSmbios2, &entry2}}), "||");
}

TEST_F(Machine, GetTimeGivesTheClockAndAnImpossibleOneIsRefused)
{
    uefi::gFirmware.System = firmware_.System();
    firmware_.time = EFI_TIME{2026, 12, 7, 14, 3, 22, 0, 0, EFI_UNSPECIFIED_TIMEZONE, 0, 0};
    WallClock clock{};
    ASSERT_TRUE(ReadWallClock(&clock));
    EXPECT_EQ(std::vector<int>({clock.Year, clock.Month, clock.Day, clock.Hour, clock.Minute, clock.Second}),
              std::vector<int>({2026, 12, 7, 14, 3, 22}));
    firmware_.time.Month = 13;
    EXPECT_FALSE(ReadWallClock(&clock));
    firmware_.time.Month = 12;
    firmware_.timeStatus = EFI_DEVICE_ERROR;
    EXPECT_FALSE(ReadWallClock(&clock));
}

// A factory names its station in its startup.nsh ("set zar_station LINE-7");
// zar-sim's --station stands in for it.
TEST_F(Machine, TheStationIsTheShellVariableZarStation)
{
    uefi::gFirmware.Boot = firmware_.System()->BootServices;
    EFI_GUID shellGuid = EFI_SHELL_PROTOCOL_GUID;
    void* shell = nullptr;
    ASSERT_EQ(uefi::gFirmware.Boot->LocateProtocol(&shellGuid, nullptr, &shell), EFI_SUCCESS);
    uefi::gFirmware.Shell = static_cast<EFI_SHELL_PROTOCOL*>(shell);
    auto station = [] {
        char name[IDENTITY_TEXT_MAX + 1];
        ReadStationName(name);
        return std::string(name);
    };
    EXPECT_EQ(station(), "") << "unset";
    firmware_.environment[u"zar_station"] = u" LINE-7 ";
    EXPECT_EQ(station(), "LINE-7");
    firmware_.environment[u"zar_station"] = u"Stra\u00DFe \u00FC\u2460";
    EXPECT_EQ(station(), "Stra\xC3\x9F" "e \xC3\xBC\xE2\x91\xA0");
    firmware_.environment[u"zar_station"] = std::u16string(100, u'x');
    EXPECT_EQ(station(), std::string(IDENTITY_TEXT_MAX, 'x'));
    SetSimulatedStation("sim");
    EXPECT_EQ(station(), "sim");
    SetSimulatedStation(nullptr);
    uefi::gFirmware.Shell = nullptr;
    EXPECT_EQ(station(), "") << "the older Shell has no GetEnv";
}

TEST_F(Machine, DurationsAreMillisecondsOnTheCounterMeasuredAgainstStall)
{
    uefi::gFirmware.Boot = firmware_.System()->BootServices;
    uint64_t start = 0, end = 0;
    ASSERT_TRUE(ReadMilliseconds(&start));
    struct timespec wait = {0, 200 * 1000000};
    nanosleep(&wait, nullptr);
    ASSERT_TRUE(ReadMilliseconds(&end));
    EXPECT_GE(end - start, 190u);
    EXPECT_LT(end - start, 400u);
}

}  // namespace
}  // namespace zar::test
