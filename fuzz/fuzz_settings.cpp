// The settings reader, with one registered property, on whatever the settings file holds.
#include "fuzz_support.h"
#include "store/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    static const std::string path = fuzzing::ScratchFile("Settings.ini");
    fuzzing::WriteScratch(path, fuzzing::Text(data, size));
    std::string width = "200";
    TMWIniFile ini(path);
    ini.RegisterComponentProp("ftBlogCategories.width", [&] { return width; },
                              [&](const std::string& v) { width = v; });
    ini.ReadSettings();
    (void)ini.ReadValue("BlogDataFileName");
    (void)ini.ReadValue("MySiteSelect");
    (void)ParseFormPos(ini.ReadValue("Form1.Pos"), TFormPos{});
    (void)ReadIntPropertyText(width);
    return 0;
}
