#include "shell/inspector.h"

#include "foundation/text.h"
#include "skin/form.h"
#include "skin/progress.h"
#include "skin/text_component.h"
#include "skin/text_source.h"
#include "skin/vlist.h"
#include "skin/waveform.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace shell {

namespace {

void quoted(std::string& out, std::u16string_view text) {
    std::string utf8 = foundation::to_utf8(text);
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += char(c);
            }
        }
    }
    out += '"';
}

void component(std::string& out, const skin::Component& c, const foundation::Rect& client,
               int depth) {
    std::string indent(size_t(depth) * 2, ' ');
    out += indent + "{\"type\": ";
    quoted(out, c.type_name());
    out += ", \"id\": ";
    quoted(out, c.id());
    out += ", \"rect\": [" + std::to_string(c.x() + client.left) + ", " +
           std::to_string(c.y() + client.top) + ", " + std::to_string(c.width()) + ", " +
           std::to_string(c.height()) + "]";
    out += std::string(", \"shown\": ") + (c.shown() ? "true" : "false");
    out += std::string(", \"enabled\": ") + (c.effectively_enabled() ? "true" : "false");
    if (const auto* text = dynamic_cast<const skin::TextSource*>(&c)) {
        out += ", \"text\": ";
        quoted(out, text->shown_text());
    } else if (const auto* label = dynamic_cast<const skin::TextComponent*>(&c)) {
        out += ", \"text\": ";
        quoted(out, label->text());
    }
    if (const auto* bar = dynamic_cast<const skin::Progress*>(&c)) {
        // Thousandths, written without the locale's decimal sign.
        const long thousandths = std::lround(std::clamp(bar->value(), 0.0, 1.0) * 1000.0);
        char value[32];
        std::snprintf(value, sizeof value, "%ld.%03ld", thousandths / 1000, thousandths % 1000);
        out += std::string(", \"value\": ") + value;
    }
    if (const auto* wave = dynamic_cast<const skin::Waveform*>(&c))
        out += ", \"columns\": " + std::to_string(wave->columns().size());
    if (const auto* list = dynamic_cast<const skin::VList*>(&c)) {
        // The rows bound to items, with their item index: lists make them outside the tree.
        out += ", \"rows\": [";
        bool first = true;
        for (const auto& row : list->rows()) {
            if (row->item_index() < 0 || !row->shown())
                continue;
            out += first ? "\n" : ",\n";
            first = false;
            out += indent + "  {\"index\": " + std::to_string(row->item_index()) + ", \"row\":\n";
            component(out, *row, client, depth + 2);
            out += "}";
        }
        out += "]";
    }
    out += ", \"children\": [";
    const auto& children = c.children();
    if (!children.empty()) {
        out += "\n";
        for (size_t i = 0; i < children.size(); ++i) {
            component(out, *children[i], client, depth + 1);
            out += i + 1 < children.size() ? ",\n" : "\n";
        }
        out += indent;
    }
    out += "]}";
}

} // namespace

std::string inspect_json(const std::vector<InspectedForm>& forms, const foundation::Rect& client,
                         bool transition) {
    std::string out = "{\"screen\": {\"width\": " + std::to_string(client.width()) +
                      ", \"height\": " + std::to_string(client.height()) + "},\n";
    out += std::string(" \"transition\": ") + (transition ? "true" : "false") + ",\n";
    out += " \"forms\": [";
    for (size_t i = 0; i < forms.size(); ++i) {
        out += "\n  {\"overlay\": ";
        out += forms[i].overlay ? "true" : "false";
        out += ", \"tree\":\n";
        component(out, *forms[i].form, client, 2);
        out += "}";
        if (i + 1 < forms.size())
            out += ",";
    }
    out += "]}\n";
    return out;
}

bool write_file_atomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file)
            return false;
        file << text;
        if (!file.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace shell
