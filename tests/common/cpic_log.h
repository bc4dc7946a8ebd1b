// The stand-in CPI-C stack's call log as a vector, optionally only the calls of one name.
#ifndef TESTS_CPIC_LOG_H
#define TESTS_CPIC_LOG_H

#include <string>
#include <vector>

#include "cpic_control.h"

inline std::vector<CpicCallRecord> cpicCalls(const char *name = nullptr) {
    std::vector<CpicCallRecord> result;
    CpicCallRecord record;
    for (int i = 0; cpicCtl_GetCall(i, &record) != 0; ++i) {
        if (name == nullptr || std::string(record.call) == name) result.push_back(record);
    }
    return result;
}

#endif
