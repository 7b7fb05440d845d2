#include "controller/record_storage.h"

#include "formats/id3_tag.h"
#include "foundation/file.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <algorithm>

namespace controller {

namespace {

constexpr std::size_t max_path_characters = 250;
// Bytes a file name may take on this system, and room kept for a "~NNNNN" suffix.
constexpr std::size_t max_name_bytes = 255;
constexpr std::size_t suffix_room = 6;

void cut(std::u16string& text, std::size_t length) {
    if (text.size() <= length)
        return;
    text.resize(length);
    if (!text.empty() && foundation::is_high_surrogate(text.back()))
        text.pop_back();
}

bool newer(const RecordInfo& a, const RecordInfo& b) {
    return a.date.later_than(b.date);
}

void insert_storage(std::vector<StorageInfo>& list, StorageInfo storage,
                    const std::u16string& documents) {
    for (const auto& present : list)
        if (foundation::same_path(present.folder, storage.folder))
            return;
    auto main_memory = [&](const StorageInfo& s) {
        return foundation::path_starts_with(s.folder, documents);
    };
    // Main memory before cards; among equals, the smaller volume first.
    auto before = [&](const StorageInfo& a, const StorageInfo& b) {
        if (main_memory(a) != main_memory(b))
            return main_memory(a);
        return a.total_bytes < b.total_bytes;
    };
    auto place = std::upper_bound(list.begin(), list.end(), storage, before);
    list.insert(place, std::move(storage));
}

// The volume's size, measured at the folder or, before it exists, at the storage's root.
double volume_size(const std::u16string& folder, const std::u16string& root) {
    double size = foundation::total_size(folder);
    return size > 0 ? size : foundation::total_size(root);
}

class DriveCollector : public foundation::DriveSink {
public:
    std::vector<std::u16string> roots;
    bool on_drive(const std::u16string& path) override {
        roots.push_back(path);
        return true;
    }
};

} // namespace

std::vector<StorageInfo> storages() {
    std::vector<StorageInfo> list;
    list.reserve(5);
    const std::u16string documents = foundation::expand(u"%my_documents%");
    const std::u16string main_folder =
        foundation::join(documents, std::u16string(records_folder_name));
    insert_storage(list, {main_folder, u"Menu_MainMemory", volume_size(main_folder, documents)},
                   documents);
    DriveCollector drives;
    foundation::find_drives(drives);
    for (const auto& root : drives.roots) {
        std::u16string folder = foundation::join(root, std::u16string(records_folder_name));
        std::u16string label = foundation::name_of(foundation::without_trailing_separator(root));
        insert_storage(list, {folder, label, volume_size(folder, root)}, documents);
    }
    return list;
}

const StorageInfo& choose_storage(const std::vector<StorageInfo>& list) {
    const StorageInfo& last = list.back();
    // A card's record folder is made when the card itself is there.
    if (!foundation::FileInfo(last.folder).is_directory() &&
        foundation::FileInfo(foundation::parent_of(last.folder)).is_directory())
        foundation::create_directory(last.folder);
    if (foundation::FileInfo(last.folder).is_directory() &&
        foundation::free_space(last.folder) >= min_free_bytes)
        return last;
    return list.front();
}

bool short_of_space(const std::u16string& folder) {
    // A folder not made yet lies on the volume of its nearest existing parent.
    std::u16string existing = foundation::without_trailing_separator(folder);
    while (!existing.empty() && !foundation::FileInfo(existing).exists()) {
        const std::u16string parent = foundation::parent_of(existing);
        if (parent.size() >= existing.size())
            break;
        existing = parent;
    }
    return !existing.empty() && foundation::free_space(existing) < min_free_bytes;
}

namespace {

// The cleaned and cut name, or empty when the folder leaves no room.
std::u16string record_base_name(const std::u16string& name, const std::u16string& folder,
                                const std::u16string& extension) {
    std::u16string base = name;
    const std::u16string candidate = foundation::join(folder, base + u"." + extension);
    // The name gives up what the whole path has beyond the limit; a folder that leaves no
    // character for the name gives no path.
    if (candidate.size() > max_path_characters) {
        const std::size_t excess = candidate.size() - max_path_characters;
        if (excess >= base.size())
            return {};
        cut(base, base.size() - excess);
        if (base.empty())
            return {};
    }
    for (char16_t& c : base) {
        if (c < 32 || std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos)
            c = u' ';
    }
    while (!base.empty() &&
           foundation::to_utf8(base).size() + 1 + extension.size() + suffix_room > max_name_bytes)
        cut(base, base.size() - 1);
    return base;
}

} // namespace

std::u16string record_file_path(const std::u16string& name, const std::u16string& folder,
                                const std::u16string& extension) {
    std::u16string base = record_base_name(name, folder, extension);
    return base.empty() ? std::u16string() : foundation::join(folder, base + u"." + extension);
}

std::u16string unique_record_path(const std::u16string& name, const std::u16string& folder,
                                  const std::u16string& extension) {
    std::u16string base = record_base_name(name, folder, extension);
    if (base.empty())
        return {};
    std::u16string path = foundation::join(folder, base + u"." + extension);
    for (int number = 1; foundation::FileInfo(path).exists(); ++number)
        path = foundation::join(folder, base + u"~" + foundation::to_text(int32_t(number)) + u"." +
                                            extension);
    return path;
}

std::u16string clean_title(std::u16string_view title) {
    std::u16string clean;
    clean.reserve(title.size());
    for (char16_t c : title) {
        if (c == 13 || c == 27 || c == 6922)
            continue;
        clean += c == 10 ? u' ' : c;
    }
    return clean;
}

std::u16string size_text(uint64_t bytes) {
    using foundation::to_text;
    if (bytes == 0)
        return {};
    if (bytes < 1024)
        return to_text(long(bytes)) + u"B";
    if (bytes < 1048576)
        return to_text(long(bytes / 1024)) + u"K";
    return to_text(long(bytes / 1048576)) + u"." + to_text(long(bytes % 1048576 * 10 / 1048576)) +
           u"M";
}

bool has_record_extension(std::u16string_view name) {
    if (name.size() < 4)
        return false;
    std::u16string tail(name.substr(name.size() - 4));
    for (char16_t& c : tail)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    return tail == u".mp3" || tail == u".wav";
}

RecordInfo record_info(const std::u16string& path) {
    RecordInfo info;
    info.path = path;
    foundation::FileInfo file_info(path);
    if (file_info.exists() && !file_info.is_directory()) {
        info.size_text = size_text(file_info.size());
        info.date = file_info.creation_time().earlier_than(file_info.write_time())
                        ? file_info.creation_time()
                        : file_info.write_time();
    }
    foundation::File file(path, foundation::File::Read);
    formats::Id3Tag tag;
    if (file.is_open() && tag.parse(file) > 0) {
        info.artist = tag.text(formats::kId3Artist);
        info.title = tag.text(formats::kId3Title);
        info.album = tag.text(formats::kId3Album);
        const std::vector<formats::Marker> markers = tag.markers();
        info.marker_count = uint32_t(markers.size());
        for (size_t i = 0; i < markers.size(); ++i) {
            if (markers[i].label.empty() ||
                markers[i].label == formats::default_marker_label(i + 1))
                continue;
            if (!info.marker_labels.empty())
                info.marker_labels += u' ';
            info.marker_labels += markers[i].label;
        }
    } else {
        std::u16string name = foundation::name_of(path);
        auto dot = name.rfind(u'.');
        info.title = dot == std::u16string::npos ? name : name.substr(0, dot);
        info.album = foundation::name_of(
            foundation::without_trailing_separator(foundation::directory_of(path)));
    }
    return info;
}

bool is_record(const RecordInfo& info) {
    return !info.size_text.empty() && has_record_extension(foundation::name_of(info.path));
}

void RecordList::clear() {
    m_items.clear();
    m_paths.clear();
}

int RecordList::insert(RecordInfo info, bool* inserted) {
    if (m_paths.count(info.path) != 0) {
        if (inserted)
            *inserted = false;
        return find(info.path);
    }
    auto place = std::upper_bound(m_items.begin(), m_items.end(), info, newer);
    m_paths.insert(info.path);
    const auto index = place - m_items.begin();
    m_items.insert(place, std::move(info));
    if (inserted)
        *inserted = true;
    return int(index);
}

void RecordList::assign(std::vector<RecordInfo> records) {
    clear();
    for (auto& record : records)
        if (m_paths.insert(record.path).second)
            m_items.push_back(std::move(record));
    std::stable_sort(m_items.begin(), m_items.end(), newer);
}

int RecordList::find(const std::u16string& path) const {
    if (m_paths.count(path) == 0)
        return -1;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].path == path)
            return int(i);
    return -1;
}

void RecordList::erase(int index) {
    if (index < 0 || std::size_t(index) >= m_items.size())
        return;
    m_paths.erase(m_items[std::size_t(index)].path);
    m_items.erase(m_items.begin() + index);
}

void RecordList::update(int index, const RecordInfo& info) {
    if (index < 0 || std::size_t(index) >= m_items.size())
        return;
    RecordInfo& entry = m_items[std::size_t(index)];
    m_paths.erase(entry.path);
    entry.path = info.path;
    entry.artist = info.artist;
    entry.title = info.title;
    entry.album = info.album;
    entry.marker_count = info.marker_count;
    entry.marker_labels = info.marker_labels;
    if (!info.size_text.empty())
        entry.size_text = info.size_text;
    m_paths.insert(entry.path);
}

} // namespace controller
