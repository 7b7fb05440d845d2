#pragma once

// Where records live and what is known about each: the storages ("My Quillory" in the
// documents folder of main memory, then on each storage card), the choice of storage for a new
// record, the file-name rules, and the sorted list of records. UI thread only.

#include "foundation/date_time.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace controller {

inline constexpr std::u16string_view records_folder_name = u"My Quillory";
inline constexpr std::u16string_view incoming_folder = u"Incoming";
inline constexpr std::u16string_view outgoing_folder = u"Outgoing";
// A storage with less free space than this is not chosen for a new record.
inline constexpr double min_free_bytes = 1000000.0;

struct StorageInfo {
    std::u16string folder; // the storage's record folder
    // "Menu_MainMemory" (a language key) for main memory; the card's folder name otherwise.
    std::u16string label;
    double total_bytes{0}; // size of the volume, 0 when it cannot be read
};

// Main memory first, then the storage cards, smaller volumes before larger ones. A folder
// already listed is not listed twice.
std::vector<StorageInfo> storages();

// The storage a new record goes to: the last entry (the largest card, or main memory), unless
// its folder cannot be made or it has less than min_free_bytes free; then the first entry.
const StorageInfo& choose_storage(const std::vector<StorageInfo>& list);

// Whether the volume that holds (or would hold) the folder has less than min_free_bytes free:
// what a write that failed there is put down to.
[[nodiscard]] bool short_of_space(const std::u16string& folder);

// folder/name.extension, with the nine characters < > : " / \ | ? * and control characters
// in the name turned into blanks, the name cut so that the path stays within 250 characters
// and the file name within the system's limit, and "~1", "~2"... appended while the path is
// taken. Empty when the folder leaves no room for a name.
std::u16string unique_record_path(const std::u16string& name, const std::u16string& folder,
                                  const std::u16string& extension);

// The same path before the "~" numbering: what the name gives in that folder.
std::u16string record_file_path(const std::u16string& name, const std::u16string& folder,
                                const std::u16string& extension);

// Drops carriage returns, escapes and U+1B0A from a title typed by the user, and turns line
// feeds into blanks.
std::u16string clean_title(std::u16string_view title);

struct RecordInfo {
    std::u16string path;
    std::u16string artist;
    std::u16string title;
    std::u16string album;
    std::u16string size_text;
    foundation::DateTime date; // the earlier of creation and last write
    uint32_t marker_count{0};
    // The labels of its markers that were given by hand ("Marker N" ones left out), separated
    // by blanks: what the keypad filter also looks at.
    std::u16string marker_labels;
};

// "" for 0 bytes, "512B", "12K", "3.4M".
std::u16string size_text(uint64_t bytes);
// Names ending in ".mp3" or ".wav", any letter case.
[[nodiscard]] bool has_record_extension(std::u16string_view name);
// Examines one file; the size text stays empty when the file cannot be examined or is empty.
RecordInfo record_info(const std::u16string& path);
// A file the record list shows: a record extension and a non-empty size text.
[[nodiscard]] bool is_record(const RecordInfo& info);

// The records, newest first; one entry per path.
class RecordList {
public:
    const std::vector<RecordInfo>& items() const { return m_items; }
    std::size_t size() const { return m_items.size(); }
    const RecordInfo& operator[](std::size_t index) const { return m_items[index]; }

    void clear();
    void reserve(std::size_t count) { m_items.reserve(count); }
    // Inserts at the sorted place (after records of the same date) and returns the index; a
    // path already listed is not inserted again and its index is returned.
    int insert(RecordInfo info, bool* inserted = nullptr);
    // Replaces the whole list by these records, sorted (for a full rebuild).
    void assign(std::vector<RecordInfo> records);
    // The entry's index, or -1.
    int find(const std::u16string& path) const;
    void erase(int index);
    // Changes an entry's texts and path, keeping its place.
    void update(int index, const RecordInfo& info);

private:
    std::vector<RecordInfo> m_items;
    // The listed paths, so that an insert checks for a duplicate without a walk of the list.
    std::unordered_set<std::u16string> m_paths;
};

} // namespace controller
