// ReadINIValue, WriteINIValue.
#include "kestrun.h"
#include "kestrun/datastores/ini_values.h"
#include "kestrun/interop/frame.h"

using namespace kestrun::interop;
using kestrun::datastores::ReadIniValue;
using kestrun::datastores::WriteIniValue;

KESTRUN_EXPORT BSTR KESTRUN_CALL ReadINIValue(BSTR *section, BSTR *key, BSTR *defaultValue,
                                              BSTR *file) {
    return GuardString([&] {
        return StringResult(ReadIniValue(RefString(section), RefString(key),
                                         RefString(defaultValue), RefString(file)));
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL WriteINIValue(BSTR *section, BSTR *key, BSTR *value,
                                                  BSTR *file) {
    return Guard<int32_t>(0, [&] {
        return WriteIniValue(RefString(section), RefString(key), RefString(value), RefString(file))
                   ? 1
                   : 0;
    });
}
