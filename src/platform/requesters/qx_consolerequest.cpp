// Console forms of the requesters, used while no graphical requester is
// available. The end of standard input always cancels, so that a closed
// input never makes a question loop.
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/qx_memory.h"
#include "platform/qx_text.h"
#include "platform/requesters/qx_requesters.h"

namespace {

// Reads a line without its line end; false at the end of input.
bool readLine(char *buffer, size_t size)
{
    std::fflush(stdout);
    if (!std::fgets(buffer, (int)size, stdin))
        return false;
    size_t length = std::strlen(buffer);
    if (length + 1 == size && buffer[length - 1] != '\n') {
        // Longer than the buffer: the rest of the line is dropped.
        int c;
        while ((c = std::getchar()) != '\n' && c != EOF) {
        }
    }
    size_t n = std::strcspn(buffer, "\r\n");
    buffer[n] = 0;
    return true;
}

// Script text as the console shows it: ISO-8859-1 text goes out as UTF-8.
// *owned (qxFree) holds a converted copy, null when none was needed.
const char *shown(const char *text, char **owned)
{
    *owned = text && !qxTextModeUtf8 ? qxConvertText(text, 0, 1) : nullptr;
    return *owned ? *owned : text ? text : "";
}

// A typed (UTF-8) answer in the script's encoding, in place.
void typed(char *line, size_t capacity)
{
    if (qxTextModeUtf8)
        return;
    std::string copy(line);
    qxUtf8ToLatin1Buf(copy.c_str(), line, capacity);
}

char *copyText(const char *text)
{
    size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(qxAlloc(n, 0));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

// Reads a choice between 1 and count; 0 for an empty line or the end of
// input when allowEmpty, else keeps asking (the end of input gives 0).
int askChoice(int count, bool allowEmpty)
{
    char line[256];
    std::printf("Your choice: ");
    for (;;) {
        if (!readLine(line, sizeof line))
            return 0;
        if (!line[0] && allowEmpty)
            return 0;
        char *end;
        long n = std::strtol(line, &end, 10);
        if (end != line && n >= 1 && n <= count)
            return (int)n;
        std::printf("Invalid choice. Valid choices between 1 and %d, try again.\n", count);
        std::printf("Your choice: ");
    }
}

long characterCount(const char *text)
{
    if (qxTextModeUtf8) {
        int malformed = 0;
        long n = qxUtf8Length(text, &malformed);
        if (!malformed)
            return n;
    }
    return (long)std::strlen(text);
}

} // namespace

extern "C" {

int qxConsoleMessageBox(const char *body, const char *buttons)
{
    char *owned;
    std::printf("%s\n", shown(body, &owned));
    qxFree(owned);
    if (!buttons || !std::strchr(buttons, '|')) {
        std::fflush(stdout);
        return 0;
    }
    char *ownedButtons;
    buttons = shown(buttons, &ownedButtons);
    int count = 0;
    for (const char *p = buttons;; count++) {
        const char *bar = std::strchr(p, '|');
        int length = bar ? (int)(bar - p) : (int)std::strlen(p);
        std::printf("(%d) %.*s\n", count + 1, length, p);
        if (!bar) {
            count++;
            break;
        }
        p = bar + 1;
    }
    qxFree(ownedButtons);
    int choice = askChoice(count, false);
    return choice == count ? 0 : choice;
}

int qxConsoleAskPath(const char *title, int mode, char *buffer, int wantDirectory)
{
    char *owned;
    const char *prompt = shown(title, &owned);
    int answered = 0;
    for (;;) {
        std::printf("%s: ", prompt);
        if (!readLine(buffer, 1025) || !buffer[0])
            break;
        struct stat st;
        if (stat(buffer, &st) != 0) {
            if (mode == QX_REQMODE_SAVE) {
                answered = 1;
                break;
            }
            std::printf("%s does not exist, try again.\n", buffer);
            continue;
        }
        bool isDirectory = S_ISDIR(st.st_mode);
        if (wantDirectory && !isDirectory) {
            std::printf("%s is not a directory, try again.\n", buffer);
            continue;
        }
        if (!wantDirectory && isDirectory) {
            std::printf("%s is a directory, try again.\n", buffer);
            continue;
        }
        if (mode != QX_REQMODE_SAVE) {
            answered = 1;
            break;
        }
        std::printf("%s does already exist. Overwrite? (y/n) ", buffer);
        char answer[64];
        if (!readLine(answer, sizeof answer))
            break;
        if (!std::strcmp(answer, "Y") || !std::strcmp(answer, "y")) {
            answered = 1;
            break;
        }
    }
    qxFree(owned);
    if (answered)
        typed(buffer, 1025);
    return answered;
}

char *qxConsoleAskString(const char *body, int inputKind, int maxLength)
{
    char line[1025];
    char *owned;
    const char *prompt = shown(body, &owned);
    char *answer = nullptr;
    for (;;) {
        std::printf("%s: ", prompt);
        if (!readLine(line, sizeof line))
            break;
        typed(line, sizeof line);
        if (maxLength > 0 && characterCount(line) > maxLength) {
            std::printf("String too long, %d characters max. Try again.\n", maxLength);
            continue;
        }
        if (inputKind == QX_REQINPUT_NUMERICAL) {
            bool digits = true;
            for (const char *p = line; *p; p++)
                digits = digits && std::isdigit((unsigned char)*p);
            if (!digits) {
                std::printf("Only numbers accepted, try again.\n");
                continue;
            }
        }
        answer = copyText(line);
        break;
    }
    qxFree(owned);
    return answer;
}

int qxConsoleAskList(const char *body, const char *entries)
{
    char *owned;
    std::printf("%s\n", shown(body, &owned));
    qxFree(owned);
    int count = 0;
    for (const char *p = entries; p && *p; p += std::strlen(p) + 1) {
        std::printf("(%d) %s\n", ++count, shown(p, &owned));
        qxFree(owned);
    }
    if (count == 0) {
        std::fflush(stdout);
        return -1;
    }
    return askChoice(count, true) - 1;
}

void qxConsoleAskFont(char *name, int *size)
{
    std::printf("Enter font name: ");
    if (!readLine(name, 256) || !name[0]) {
        name[0] = 0;
        return;
    }
    char line[256];
    for (;;) {
        std::printf("Enter font size: ");
        if (!readLine(line, sizeof line)) {
            name[0] = 0;
            return;
        }
        if (std::isdigit((unsigned char)line[0]))
            break;
        std::printf("Error. Invalid size specified.\n");
    }
    *size = (int)std::strtol(line, nullptr, 10);
}

int32_t qxConsoleAskColor(void)
{
    char line[256];
    for (;;) {
        std::printf("Enter RGB color in a hexadecimal notation: ");
        if (!readLine(line, sizeof line) || !line[0])
            return -1;
        if (line[0] != '#') {
            std::printf("Error. Color must be prefixed with a '#' character.\n");
            continue;
        }
        bool ok = std::strlen(line + 1) == 6;
        for (const char *p = line + 1; ok && *p; p++)
            ok = std::isxdigit((unsigned char)*p);
        if (!ok) {
            std::printf("Error. Color must use be 6 characters (two per red, green, blue).\n");
            continue;
        }
        return (int32_t)std::strtol(line + 1, nullptr, 16);
    }
}
}
