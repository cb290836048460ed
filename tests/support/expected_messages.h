// The message texts callers rely on, by code, as the tests expect them.
#pragma once

#include <map>
#include <string>

namespace varrow::test {

inline const std::map<int, std::string> EXPECTED_MESSAGES = {
    {50001, "Error: incorrect parameter count"},
    {50002, "Error: invalid input param, cannot read input parameter"},
    {50003, "Error: invalid param size, maximum parameter size is 8000 bytes"},
    {50004, "Error: invalid param size, maximum parameter size is 4000 bytes"},
    {50005, "Error: invalid key param, key should be 32/48/64 bytes char that contains hex values"},
    {50006, "Error: invalid output param, cannot handle output parameter"},
    {50007, "Error: invalid output param, output buffer too small"},
    {50008, "Error: invalid output param, OUTPUT parameter is not specified"},
    {50009, "Error: invalid param type, parameter should be CHAR/VARCHAR/NCHAR/NVARCHAR type"},
    {50010, "Error: invalid cipher data, cipher data is corrupted"},
    {50011, "Error: invalid output type or cannot return output string"},
    {50012, "Error: invalid output type, output type should not be NCHAR or NVARCHAR"},
    {50013, "Error: incorrect file name or cannot handle the file"},
    {50014, "Error: invalid filename or file path should be less than 260 bytes"},
    {50015, "Error: invalid input file size, maximum size is 8000 bytes"},
    {50016, "Error: parameter is null"},
};

}  // namespace varrow::test
