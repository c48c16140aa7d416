// The MAPI wrappers' own rules: result checks, hex id decoding and the property set.
#include "mapi/MapiObject.h"

#include <doctest.h>

#include <string>

namespace {

std::vector<BYTE> Bytes(std::initializer_list<int> values) {
    return std::vector<BYTE>(values.begin(), values.end());
}

} // namespace

TEST_CASE("CheckResult raises for failures only") {
    MapiBase base;
    base.lastResult = S_OK;
    CHECK_NOTHROW(base.CheckResult());
    base.lastResult = MAPI_W_ERRORS_RETURNED;
    CHECK_NOTHROW(base.CheckResult());
    base.lastResult = MAPI_E_NOT_FOUND;
    int raised = 0;
    try {
        base.CheckResult();
    } catch (ERROR_CODE error) {
        raised = error;
    }
    CHECK(raised == ERR_MAPI_FAILED);
}

TEST_CASE("hex ids decode two digits a byte, high digit first") {
    CHECK(MapiBase::HexToBytes("00FF7a0B") == Bytes({0x00, 0xFF, 0x7A, 0x0B}));
    CHECK(MapiBase::HexToBytes("abcdef") == MapiBase::HexToBytes("ABCDEF"));
    CHECK(MapiBase::HexToBytes("123") == Bytes({0x12}));
    CHECK(MapiBase::HexToBytes("1").empty());
    CHECK(MapiBase::HexToBytes("").empty());
}

TEST_CASE("a character that is no hex digit counts as 255") {
    CHECK(MapiBase::HexDigitValue('g') == 0xFF);
    CHECK(MapiBase::HexDigitValue('G') == 0xFF);
    CHECK(MapiBase::HexDigitValue(' ') == 0xFF);
    CHECK(MapiBase::HexDigitValue('\xC1') == 0xFF);
    // As a high digit: 0xF0 plus the low digit; as a low digit: 16 * high + 255.
    CHECK(MapiBase::HexToBytes("x5") == Bytes({0xF5}));
    CHECK(MapiBase::HexToBytes("3z") == Bytes({0x2F}));
    CHECK(MapiBase::HexToBytes("--") == Bytes({0xEF}));
}

TEST_CASE("the property set reads and rewrites narrow strings only") {
    char className[] = "IPM.Task.Plendrax";
    SPropValue values[2] = {};
    values[0].ulPropTag = PR_DEF_POST_MSGCLASS;
    values[0].Value.lpszA = className;
    values[1].ulPropTag = CHANGE_PROP_TYPE(PR_DEF_POST_DISPLAYNAME, PT_ERROR);
    values[1].Value.err = MAPI_E_NOT_FOUND;
    // No MAPI library is loaded in this program, so discarding the set frees nothing.
    MapiPropSet set(values, 2);

    CHECK(set.PropType(0) == PT_STRING8);
    CHECK(set.PropType(1) == PT_ERROR);
    CHECK(std::string(set.GetString(0)) == "IPM.Task.Plendrax");
    int raised = 0;
    try {
        set.GetString(1);
    } catch (ERROR_CODE error) {
        raised = error;
    }
    CHECK(raised == ERR_MAPI_FAILED);
    raised = 0;
    try {
        set.GetString(2);
    } catch (ERROR_CODE error) {
        raised = error;
    }
    CHECK(raised == ERR_MAPI_FAILED);

    static const char task[] = "Task";
    set.SetString(PR_DEF_POST_DISPLAYNAME, task, 1);
    CHECK(values[1].ulPropTag == PR_DEF_POST_DISPLAYNAME);
    CHECK(values[1].Value.lpszA == task);
    CHECK(std::string(set.GetString(1)) == "Task");

    values[0].Value.lpszA = nullptr;
    raised = 0;
    try {
        set.GetString(0);
    } catch (ERROR_CODE error) {
        raised = error;
    }
    CHECK(raised == ERR_MAPI_FAILED);
}
