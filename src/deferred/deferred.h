// Deferred action data: the container that carries properties into the
// deferred phase, and the scheduling of the deferred routines.
#pragma once

#include <windows.h>

#include <string>
#include <unordered_map>

#include "util/xstring.h"

// Ordered name/value table, packed as "[[" name "=" value "]]|" per entry.
class CADContainer {
public:
    static constexpr int kCapacity = 512;

    // Index of the entry named `name` (exact, case-sensitive) and its value,
    // or -1 with `value` untouched.
    int Find(const XString& name, XString* value) const;
    // Replaces the value of an existing name in place or appends a new entry.
    // Refuses (and logs) a new name once the table is full.
    bool Set(const XString& name, const XString& value);
    void Clear() {
        count_ = 0;
        index_.clear();
    }
    int Count() const { return count_; }
    XString Pack() const;
    // Adds or replaces the entries of a packed text; a malformed text
    // empties the container.
    void Unpack(const XString& packed);

private:
    struct Entry {
        XString name;
        XString value;
    };
    Entry entries_[kCapacity];
    int count_ = 0;
    // Name to entry: a packed text of many entries parses in linear time.
    std::unordered_map<std::wstring, int> index_;
};

CADContainer& TheCADContainer();

// The value stored under `name`, or an empty text.
XString GetCADValue(const XString& name);

void Marshal_CAD();
void DeMarshal_CAD();
UINT Property_table_to_CAD();
void StoreDeferredProperties();

void SetDeferredCustomActionFN(const wchar_t* name);
void SetDeferredCustomActionFNs(const wchar_t* first, const wchar_t* second);
void RepublishInstallMode();

// The steps of OnExecuteStub inside its frame: 0, or 1603 to stop the run.
UINT HandOverDeferredData();
