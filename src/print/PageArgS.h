#pragma once
// TPageArg: the page arguments of the PrintSet section of uservouc.ini.

#include <cstdint>
#include <string>

class TIniFile;

class TPageArg {
public:
    // Reads the settings file; on any failure every field takes its fallback value.
    TPageArg();
    // Reads the settings file again; raises when it cannot be read.
    void Read();

    std::string printer = "3";
    std::string printMethod = "2";
    std::int32_t row = 40;
    std::int32_t col = 70;
    std::string fontName = "宋体";
    std::int32_t fontSize = 10;
    std::string zzdzType = "0";
    std::int32_t autoToNextPage = 0;
    std::int32_t pageLength = 0;
    std::int32_t pageWidth = 0;
    std::int32_t tinyFormFeed = 0;

private:
    void ReadFrom(const TIniFile& ini);
    void SetFallback();
};

// The module's page arguments: created on the first call, read afresh on every later one
// (a failure of that reading is raised).
TPageArg& GetPageArg();
void FreePageArg();
