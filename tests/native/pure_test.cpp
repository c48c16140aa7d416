// The command-line tail, the last separator and the hex ids, built natively with the address
// and undefined-behaviour sanitizers: every read stays inside the string, whatever it holds.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "app/CommandLine.h"
#include "app/CommandLineOptions.h"
#include "mapi/MapiBase.h"

#include <string>
#include <vector>

namespace {

// The tail as an offset into a copy of exactly the line's size, so that the sanitizer sees
// any read past its end.
size_t TailAt(const std::string& line, UINT codePage = 1252) {
    std::vector<char> copy(line.begin(), line.end());
    copy.push_back('\0');
    const char* tail = CommandLineTail(copy.data(), codePage);
    REQUIRE(tail >= copy.data());
    REQUIRE(tail <= copy.data() + line.size());
    return size_t(tail - copy.data());
}

std::string Tail(const std::string& line, UINT codePage = 1252) {
    return line.substr(TailAt(line, codePage));
}

} // namespace

TEST_CASE("command-line tails at the edges") {
    CHECK(Tail("") == "");
    CHECK(Tail("\"") == "");
    CHECK(Tail("\"\"") == "");
    CHECK(Tail("\"\" %a") == "%a");
    CHECK(Tail("x.exe") == "");
    CHECK(Tail("x.exe \t \x01\x1f %a b") == "%a b");
    CHECK(Tail("\"a b.exe\"%c") == "%c");
    // Bytes of 128 and above are part of the name; only 1 to 32 separate.
    CHECK(Tail("cl\xE9\xFF.exe %d") == "%d");
    CHECK(Tail("x.exe \x80%d") == "\x80%d");
    // A second quote ends the name even after "%"; the rest is the tail as it stands.
    CHECK(Tail("\"a\"b c\" %d") == "b c\" %d");
    CHECK(Tail("x.exe %%\"D:\\\"") == "%%\"D:\\\"");
    // An unclosed quote: the whole line is the name.
    CHECK(Tail("\"C:\\a b\\u.exe %D:\\") == "");
}

TEST_CASE("double-byte names carry their trail bytes, also at the very end") {
    // 0x5C ('\') and 0x22 ('"') as trail bytes of Shift-JIS characters.
    CHECK(Tail("\"\x83\x5C\x83\x22.exe\" %d", 932) == "%d");
    CHECK(Tail("\"\x83\x22 x\" %d", 1252) == "x\" %d");
    CHECK(Tail("\"\x83\x22 x\" %d", 932) == "%d");
    // A lead byte with nothing behind it, inside an unclosed quote.
    CHECK(TailAt("\"\x83", 932) == 2);
    CHECK(TailAt("\"ab\x83", 936) == 4);
    // A 32,000-character line.
    std::string longLine = "\"" + std::string(31990, '\x81') + "\" %x";
    CHECK(Tail(longLine, 932).size() <= 4);
    CHECK(Tail("x.exe %" + std::string(32000, 'a')).size() == 32001);
}

TEST_CASE("the last separator, slash or backslash") {
    char empty[] = "";
    CHECK(LastSeparator(empty) == nullptr);
    char mixed[] = "C:/a\\b/c";
    CHECK(LastSeparator(mixed) == mixed + 6);
    char trailing[] = "C:\\a\\\\";
    CHECK(LastSeparator(trailing) == trailing + 5);
    const char* none = "abc";
    CHECK(LastSeparator(none) == nullptr);
}

TEST_CASE("hex ids: pairs, an odd last digit dropped, other characters as 0xFF") {
    CHECK(MapiBase::HexToBytes(nullptr).empty());
    CHECK(MapiBase::HexToBytes("").empty());
    CHECK(MapiBase::HexToBytes("0").empty());
    CHECK(MapiBase::HexToBytes("0aFf1") == std::vector<BYTE>{0x0A, 0xFF});
    CHECK(MapiBase::HexToBytes("0A0B0C0D") == MapiBase::HexToBytes("0a0b0c0d"));
    // A non-digit counts 0xFF: 16 * 0xFF + 0x01 kept to a byte.
    CHECK(MapiBase::HexToBytes("g1") == std::vector<BYTE>{BYTE(16 * 0xFF + 1)});
    CHECK(MapiBase::HexToBytes("\xFF\x80") == std::vector<BYTE>{BYTE(16 * 0xFF + 0xFF)});
    CHECK(MapiBase::HexDigitValue('G') == 0xFF);
    CHECK(MapiBase::HexDigitValue('\0') == 0xFF);
    CHECK(MapiBase::HexDigitValue('f') == 15);
    CHECK(MapiBase::HexToBytes(std::string(20001, 'e').c_str()).size() == 10000);
}

TEST_CASE("option lists that end anywhere are read inside the tail") {
    // Each tail in a buffer of exactly its size: a read past the terminator is reported.
    for (std::string tail : {"/quiet", "/quiet ", "/log", "/log=", "/log=\"", "/log=\"x",
                             "/log=\"x\"", "/log=x\"", "/quiet %", "/quiet\t%x",
                             "/LOG=\"a b\" /QUIET %d", "/quiet /", "/quiet /q", "/log=a /log"}) {
        CAPTURE(tail);
        std::vector<char> copy(tail.begin(), tail.end());
        copy.push_back('\0');
        CommandLineOptions options = ParseCommandLineTail(copy.data());
        CHECK(options.action != TailAction::Nothing);
        CHECK(options.action != TailAction::LaunchCompanion);
        if (options.action == TailAction::Uninstall)
            CHECK(options.installDirectory[-1] == '%');
        if (options.logPath.text != nullptr)
            CHECK(options.logPath.text + options.logPath.length <= copy.data() + tail.size());
    }
}
