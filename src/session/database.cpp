#include <vector>

#include "log/install_log.h"
#include "session/session.h"

UINT OpenTwoColumnView(MSIHANDLE database, const wchar_t* query, const wchar_t* label, MsiHandle& view) {
    UINT result = MsiDatabaseOpenViewW(database, query, view.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, label, L"Failed to MsiDatabaseOpenView ");
        if (result == ERROR_BAD_QUERY_SYNTAX) LogMessage(result, label, L"Error: ERROR_BAD_QUERY_SYNTAX\n");
        if (result == ERROR_INVALID_HANDLE) LogMessage(result, label, L"Error: ERROR_INVALID_HANDLE \n");
        return result;
    }
    result = MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS) {
        LogMessage(0, label, L"Failed to MsiViewExecute, error: %d\n", result);
        view.reset();
        return result;
    }
    MsiHandle columns;
    result = MsiViewGetColumnInfo(view.get(), MSICOLINFO_NAMES, columns.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(0, label, L"Failed to MsiViewGetColumnInfo, error: %d\n", result);
        view.reset();
        return result;
    }
    UINT count = MsiRecordGetFieldCount(columns.get());
    if (count != 2) {
        LogMessage(0, label, L"Failed to MsiRecordGetFieldCount, uColumns: %d\n", count);
        view.reset();
    }
    return ERROR_SUCCESS;
}

XString RecordString(MSIHANDLE record, UINT field) {
    constexpr DWORD kFirstReadChars = 200;
    std::vector<wchar_t> buffer(kFirstReadChars, L'\0');
    DWORD size = kFirstReadChars;
    UINT result = MsiRecordGetStringW(record, field, buffer.data(), &size);
    if (result == ERROR_MORE_DATA) {  // a long row is read whole rather than cut
        buffer.assign(++size, L'\0');
        result = MsiRecordGetStringW(record, field, buffer.data(), &size);
    }
    return result == ERROR_SUCCESS ? XString(buffer.data()) : XString();
}
