// The settings file through the system's private-profile calls, the way the
// program uses them: a 255-byte buffer and an empty default for reads, the
// path built with forward slashes (Qt's form of the program's folder), and
// the sections and keys of test.ini.

#include <windows.h>

#include "check.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string folder;

std::string iniPath()
{
    return folder + "/test.ini";
}

// What the program's reading returns: the first n bytes the call copied.
std::string read(const char *section, const char *key, const std::string &path = iniPath())
{
    char buffer[255];
    std::memset(buffer, 0, sizeof(buffer));
    const DWORD n =
        GetPrivateProfileStringA(section, key, "", buffer, sizeof(buffer), path.c_str());
    CHECK(n < sizeof(buffer));
    return std::string(buffer, n < sizeof(buffer) ? n : 0);
}

bool write(const char *section, const char *key, const std::string &value)
{
    return WritePrivateProfileStringA(section, key, value.c_str(), iniPath().c_str()) != FALSE;
}

std::string fileText()
{
    std::string text;
    if (FILE *f = std::fopen(iniPath().c_str(), "rb")) {
        char chunk[512];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
            text.append(chunk, n);
        std::fclose(f);
    }
    return text;
}

void setFileText(const std::string &text)
{
    FILE *f = std::fopen(iniPath().c_str(), "wb");
    CHECK(f != nullptr);
    if (f) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

// Where a line starting with these bytes is in the file, or npos.
size_t lineAt(const std::string &text, const std::string &start)
{
    if (text.compare(0, start.size(), start) == 0)
        return 0;
    const size_t at = text.find("\n" + start);
    return at == std::string::npos ? at : at + 1;
}

void missingFileReadsEmptyAndAWriteCreatesIt()
{
    DeleteFileA(iniPath().c_str());
    CHECK(read("INFO", "Login1").empty());
    CHECK(GetFileAttributesA(iniPath().c_str()) == INVALID_FILE_ATTRIBUTES);

    CHECK(write("INFO", "AutoConnect", "0"));
    CHECK(GetFileAttributesA(iniPath().c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK(read("INFO", "AutoConnect") == "0");
    CHECK(lineAt(fileText(), "[INFO]") == 0);
    CHECK(lineAt(fileText(), "AutoConnect=0") != std::string::npos);
}

void writesInPlaceAndKeepsTheRest()
{
    setFileText("; written by hand\r\n"
                "[GENERAL]\r\n"
                "Test=5\r\n"
                "[INFO]\r\n"
                "Login1=bob\r\n"
                "Numero1=0860\r\n"
                "AutoConnect=1\r\n"
                "[Other]\r\n"
                "k=v\r\n");

    CHECK(write("INFO", "Login1", "alice"));
    const std::string password = "p@ss w;rd=1 \"x\"";
    CHECK(write("INFO", "Password1", password));
    CHECK(write("GENERAL", "jouerFichierWav", "C:\\sons\\connect.wav"));
    CHECK(write("CONNECTION", "TypeNumerotation", "2"));

    CHECK(read("INFO", "Login1") == "alice");
    CHECK(read("INFO", "Password1") == password);
    CHECK(read("GENERAL", "jouerFichierWav") == "C:\\sons\\connect.wav");
    CHECK(read("CONNECTION", "TypeNumerotation") == "2");
    // Other keys and sections as they were; names match whatever their case.
    CHECK(read("INFO", "Numero1") == "0860");
    CHECK(read("INFO", "AutoConnect") == "1");
    CHECK(read("GENERAL", "Test") == "5");
    CHECK(read("Other", "k") == "v");
    CHECK(read("info", "LOGIN1") == "alice");
    CHECK(read("general", "test") == "5");

    // A new key at the end of its section, a new section at the end of the
    // file; the comment stays. (Windows keeps every other line byte for byte;
    // wine rewrites the file and drops blanks around "=", so the lines are
    // compared by where they are, not by their bytes.)
    const std::string text = fileText();
    CHECK(lineAt(text, "; written by hand") == 0);
    const size_t test = lineAt(text, "Test=5");
    const size_t wav = lineAt(text, "jouerFichierWav=");
    const size_t info = lineAt(text, "[INFO]");
    const size_t password1 = lineAt(text, "Password1=");
    const size_t other = lineAt(text, "[Other]");
    const size_t connection = lineAt(text, "[CONNECTION]");
    CHECK(test < wav && wav < info);
    CHECK(info < password1 && password1 < other);
    CHECK(other < connection && connection != std::string::npos);
    CHECK(text.find("bob") == std::string::npos);
}

void longValueIsCutAndPathFormsAgree()
{
    CHECK(write("GENERAL", "jouerFichierWav", std::string(300, 'x')));
    CHECK(read("GENERAL", "jouerFichierWav") == std::string(254, 'x'));

    std::string backslashed = iniPath();
    for (char &c : backslashed) {
        if (c == '/')
            c = '\\';
    }
    CHECK(read("INFO", "Login1", backslashed) == "alice");

    // A folder that is not there: the write fails, which the program reports.
    CHECK(WritePrivateProfileStringA("INFO", "Login1", "x",
                                     (folder + "/missing/test.ini").c_str()) == FALSE);
}

} // namespace

int main()
{
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(sizeof(temp), temp);
    if (n == 0 || n >= sizeof(temp)) {
        std::printf("no temporary folder\n");
        return 1;
    }
    folder = std::string(temp) + "vantelo-profile-" + std::to_string(GetCurrentProcessId());
    for (char &c : folder) {
        if (c == '\\')
            c = '/';
    }
    CreateDirectoryA(folder.c_str(), nullptr);

    missingFileReadsEmptyAndAWriteCreatesIt();
    writesInPlaceAndKeepsTheRest();
    longValueIsCutAndPathFormsAgree();

    DeleteFileA(iniPath().c_str());
    RemoveDirectoryA(folder.c_str());
    return checkSummary("profile_test");
}
