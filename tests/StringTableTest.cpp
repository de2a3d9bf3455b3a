// The program's string table: every text of the window in the seven shipped languages,
// with the same "%d" and "{n}" fields as the English text, and the loader's choice.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr LANGID English = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID Korean = MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN);
const std::vector<LANGID> Translations = {7, 10, 12, 16, 19, Korean};

// Reads one entry of a string-table block of one language, without the loader's
// language fallback; nullopt-like false when the block or the entry is absent.
bool ReadRawString(UINT id, LANGID language, std::wstring& out)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (block == nullptr) return false;
    auto entry = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
    if (entry == nullptr) return false;
    for (UINT i = 0; i < id % 16; ++i) entry += 1 + *entry;
    if (*entry == 0) return false;
    out.assign(entry + 1, *entry);
    return true;
}

// The fields a translation must keep: each "%d" and each "{n}", in sorted order, so a
// translation may move them around but not add, drop or change one.
std::vector<std::wstring> Fields(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%') {
            fields.push_back(text.substr(i, 2));
        } else if (text[i] == L'{') {
            fields.push_back(text.substr(i, text.find(L'}', i) - i + 1));
        }
    }
    std::sort(fields.begin(), fields.end());
    return fields;
}

// Loads a text the way the program does, with the thread switched to a language. The
// interface language and the thread locale are both switched: loaders differ in which of
// the two they consult first.
std::wstring LoadInLanguage(UINT id, LANGID language)
{
    const LANGID previousLanguage = GetThreadUILanguage();
    const LCID previousLocale = GetThreadLocale();
    SetThreadUILanguage(language);
    SetThreadLocale(MAKELCID(language, SORT_DEFAULT));
    wchar_t buffer[4096] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, buffer, 4096);
    SetThreadLocale(previousLocale);
    SetThreadUILanguage(previousLanguage);
    return buffer;
}

TEST(StringTable, EnglishTextsAreExact)
{
    const std::map<UINT, std::wstring> expected = {
        {109, L"ZIZ"},
        {300, L"Norlo 5"},
        {400, L"Performing software maintenance..."},
        {401, L"Fatal Error"},
        {402, L"Checking for updates..."},
        {403, L"Downloading component (%d of %d)"},
        {404, L"Installing component (%d of %d)"},
        {405, L"Uninstalling component (%d of %d)"},
        {406, L"Restarting..."},
        {407, L"Completing..."},
        {408, L"Software install complete"},
        {409, L"Software download complete"},
        {410, L"Software update is available"},
        {411, L"Your software is up-to-date"},
        {412, L"Software uninstall complete"},
        {413, L"Software install failed"},
        {414, L"Software uninstall failed"},
        {415, L"Software download failed"},
        {416, L"Check for update failed"},
        {417, L"Restart required"},
        {418, L"You must restart your computer to complete the uninstall process"},
        {419, L"Would you like to restart now?"},
        {420, L"You must restart your computer to complete the software update"},
        {421, L"Would you like to restart now?"},
        {422, L"Software update complete"},
        {423, L"Software update failed"},
        {424, L"This software cannot be installed on a server operating system."},
        {425, L"Before installing {0}, you must first uninstall {1}. Your backup data will be kept safe and "
              L"transferred to {0}."},
        {426, L"Would you like to uninstall {1} now?"},
        {427, L"Installation of {0} will continue after you restart your computer."},
        {428, L"Click 'OK' to restart your computer now. If you click 'Cancel', {0} will not be installed."},
        {429, L"Waiting for another setup to finish..."},
        {430, L"Waiting for a backup or restore job to finish..."},
        {431, L"Windows is waiting for a restart to complete an earlier installation or update."},
    };
    for (const auto& [id, text] : expected) {
        std::wstring actual;
        EXPECT_TRUE(ReadRawString(id, English, actual)) << "id " << id;
        EXPECT_EQ(text, actual) << "id " << id;
    }
    std::wstring url;
    ASSERT_TRUE(ReadRawString(301, English, url));
    EXPECT_EQ(L"/update.xml", url.substr(url.size() - 11));
}

TEST(StringTable, EveryLanguageHasEveryTextWithTheSameFields)
{
    for (UINT id = 400; id <= 431; ++id) {
        std::wstring english;
        ASSERT_TRUE(ReadRawString(id, English, english)) << "id " << id;
        for (LANGID language : Translations) {
            std::wstring translated;
            ASSERT_TRUE(ReadRawString(id, language, translated)) << "id " << id << " language " << language;
            EXPECT_EQ(Fields(english), Fields(translated)) << "id " << id << " language " << language;
            EXPECT_NE(english, translated) << "id " << id << " language " << language << " is not translated";
        }
    }
}

TEST(StringTable, BuildStringsExistInEnglishOnly)
{
    for (UINT id : {109u, 300u, 301u}) {
        for (LANGID language : Translations) {
            std::wstring text;
            EXPECT_FALSE(ReadRawString(id, language, text)) << "id " << id << " language " << language;
        }
    }
}

TEST(StringTable, LoaderFindsTheLanguageOfEveryRegion)
{
    // The translations are stored per language, not per country: the loader's fallback
    // from a regional language to its neutral form must reach them.
    const std::map<LANGID, std::wstring> downloading = {
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Komponente wird heruntergeladen (%d von %d)"},
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN_SWISS), L"Komponente wird heruntergeladen (%d von %d)"},
        {MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MEXICAN), L"Descargando componente (%d de %d)"},
        {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN), L"T\u00E9l\u00E9chargement du composant (%d sur %d)"},
        {MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN), L"Download del componente (%d di %d)"},
        {MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH_BELGIAN), L"Component downloaden (%d van %d)"},
    };
    for (const auto& [language, text] : downloading) {
        std::wstring found;
        EXPECT_TRUE(ReadRawString(403, language, found)) << "language " << language;
        EXPECT_EQ(text, found) << "language " << language;
    }
    EXPECT_EQ(L"Downloading component (%d of %d)", LoadInLanguage(403, English));
    // Texts that exist in English only are found from every language.
    EXPECT_EQ(L"ZIZ", LoadInLanguage(109, Korean));
}

TEST(StringTable, KoreanTextRoundTripsFromUtf8Source)
{
    const std::wstring title = L"\uC18C\uD504\uD2B8\uC6E8\uC5B4 \uC720\uC9C0 \uAD00\uB9AC\uB97C "
                               L"\uC218\uD589\uD558\uB294 \uC911...";
    const std::wstring download = L"\uAD6C\uC131 \uC694\uC18C\uB97C \uB2E4\uC6B4\uB85C\uB4DC\uD558\uB294 \uC911(%d/%d)";
    const std::wstring server = L"\uC774 \uC18C\uD504\uD2B8\uC6E8\uC5B4\uB294 \uC11C\uBC84 \uC6B4\uC601 "
                                L"\uCCB4\uC81C\uC5D0 \uC124\uCE58\uD560 \uC218 \uC5C6\uC2B5\uB2C8\uB2E4.";
    std::wstring raw;
    ASSERT_TRUE(ReadRawString(400, Korean, raw));
    EXPECT_EQ(title, raw);
    EXPECT_EQ(title, LoadInLanguage(400, Korean));
    EXPECT_EQ(download, LoadInLanguage(403, Korean));
    EXPECT_EQ(server, LoadInLanguage(424, Korean));
}

TEST(StringTable, MissingIdLoadsEmpty)
{
    EXPECT_EQ(L"", LoadInLanguage(399, English));
    EXPECT_EQ(L"", LoadInLanguage(432, Korean));
}

}  // namespace
