#include "provision/properties.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "base/state.h"

namespace {

struct KeyText {
    const char* text;
    PropertyKey key;
};

const KeyText kValueKeys[] = {
    {"hostname=", PropertyKey::kHostname},
    {"versionDownloadPath=", PropertyKey::kVersionDownloadPath},
    {"resourceDownloadPath=", PropertyKey::kResourceDownloadPath},
};

bool StartsWith(const char* line, const char* prefix)
{
    return strncmp(line, prefix, strlen(prefix)) == 0;
}

wchar_t* FieldOf(PropertyKey key)
{
    switch (key) {
    case PropertyKey::kHostname:
        return launcherState.downloadHost;
    case PropertyKey::kVersionDownloadPath:
        return launcherState.versionUrlPath;
    case PropertyKey::kResourceDownloadPath:
        return launcherState.runtimePackUrlPath;
    default:
        return nullptr;
    }
}

// Each byte is one character; values keep at most 259 of them.
void StoreValue(wchar_t* field, const char* value, size_t length)
{
    if (length > kPathCapacity - 1)
        length = kPathCapacity - 1;
    for (size_t i = 0; i < length; ++i)
        field[i] = static_cast<wchar_t>(static_cast<unsigned char>(value[i]));
    field[length] = 0;
}

} // namespace

PropertyKey ClassifyPropertyLine(const char* line, const char** value, size_t* valueLength)
{
    if (StartsWith(line, "forcedownload=true"))
        return PropertyKey::kForceDownload;
    for (const KeyText& key : kValueKeys) {
        if (StartsWith(line, key.text)) {
            *value = line + strlen(key.text);
            *valueLength = strcspn(*value, "\r\n");
            return key.key;
        }
    }
    return PropertyKey::kNone;
}

int ReadLauncherProperties()
{
    FILE* file = _wfopen(launcherState.propertyFilePath, L"r");
    if (!file)
        return errno;
    char line[kPropertyLineCapacity];
    while (fgets(line, sizeof line, file)) {
        printf("line: %s", line);
        const char* value = nullptr;
        size_t length = 0;
        PropertyKey key = ClassifyPropertyLine(line, &value, &length);
        if (key == PropertyKey::kForceDownload)
            launcherState.forceDownload = TRUE;
        else if (key != PropertyKey::kNone)
            StoreValue(FieldOf(key), value, length);
    }
    fflush(stdout);
    return fclose(file);
}
