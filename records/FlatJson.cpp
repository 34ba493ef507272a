#include "records/FlatJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace flat_json {

namespace {

void appendEscaped(std::string& out, std::string_view text)
{
    out += '"';
    // Plain runs in one append: records are mostly plain text.
    while (!text.empty()) {
        std::size_t plain = 0;
        while (plain < text.size() && text[plain] != '"' && text[plain] != '\\'
               && static_cast<unsigned char>(text[plain]) >= 0x20)
            ++plain;
        out.append(text.substr(0, plain));
        text.remove_prefix(plain);
        if (text.empty())
            break;
        const char c = text.front();
        text.remove_prefix(1);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                std::snprintf(code, sizeof code, "\\u%04x", c);
                out += code;
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void appendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Reads a string at `at` (its opening quote); false when it is no string.
bool readString(std::string_view line, std::size_t& at, std::string& out)
{
    if (at >= line.size() || line[at] != '"')
        return false;
    for (++at; at < line.size(); ++at) {
        // One pass to the closing quote, an escape or a control character (which is refused).
        std::size_t special = at;
        while (special < line.size() && line[special] != '"' && line[special] != '\\'
               && static_cast<unsigned char>(line[special]) >= 0x20)
            ++special;
        if (special == line.size())
            return false;
        out.append(line.substr(at, special - at));
        at = special;
        const char c = line[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= line.size())
            return false;
        switch (line[at]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            unsigned code = 0;
            if (at + 4 >= line.size())
                return false;
            const auto [end, error] = std::from_chars(line.data() + at + 1, line.data() + at + 5, code, 16);
            if (error != std::errc() || end != line.data() + at + 5 || (code >= 0xD800 && code < 0xE000))
                return false;  // names are whole characters: no surrogate halves
            appendUtf8(out, code);
            at += 4;
            break;
        }
        default: return false;
        }
    }
    return false;
}

}  // namespace

void Writer::key(std::string_view name)
{
    if (line_.size() > 1)
        line_ += ',';
    appendEscaped(line_, name);
    line_ += ':';
}

Writer& Writer::text(std::string_view name, std::string_view value)
{
    key(name);
    appendEscaped(line_, value);
    return *this;
}

Writer& Writer::number(std::string_view name, double value)
{
    if (!std::isfinite(value))
        return null(name);
    key(name);
    char digits[32];
    line_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    return *this;
}

Writer& Writer::integer(std::string_view name, long long value)
{
    key(name);
    line_ += std::to_string(value);
    return *this;
}

Writer& Writer::boolean(std::string_view name, bool value)
{
    key(name);
    line_ += value ? "true" : "false";
    return *this;
}

Writer& Writer::null(std::string_view name)
{
    key(name);
    line_ += "null";
    return *this;
}

std::optional<std::vector<Field>> parse(std::string_view line)
{
    std::vector<Field> fields;
    fields.reserve(24);  // a plan's row has 20 fields: one allocation
    std::size_t at = 0;
    auto skipBlanks = [&] {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r'))
            ++at;
    };
    skipBlanks();
    if (at >= line.size() || line[at++] != '{')
        return std::nullopt;
    skipBlanks();
    if (at < line.size() && line[at] == '}')
        ++at;
    else
        for (;;) {
            Field field;
            skipBlanks();
            if (!readString(line, at, field.key))
                return std::nullopt;
            skipBlanks();
            if (at >= line.size() || line[at++] != ':')
                return std::nullopt;
            skipBlanks();
            if (at < line.size() && line[at] == '"') {
                field.isString = true;
                if (!readString(line, at, field.text))
                    return std::nullopt;
            } else {
                const std::size_t start = at;
                while (at < line.size() && line[at] != ',' && line[at] != '}' && line[at] != ' ')
                    ++at;
                field.text = line.substr(start, at - start);
                if (field.text.empty())
                    return std::nullopt;
            }
            fields.push_back(std::move(field));
            skipBlanks();
            if (at >= line.size())
                return std::nullopt;
            if (line[at++] == '}')
                break;
            if (line[at - 1] != ',')
                return std::nullopt;
        }
    skipBlanks();
    if (at != line.size())
        return std::nullopt;
    return fields;
}

const Field* find(const std::vector<Field>& fields, std::string_view key)
{
    for (const Field& field : fields)
        if (field.key == key)
            return &field;
    return nullptr;
}

std::optional<std::string> text(const std::vector<Field>& fields, std::string_view key)
{
    const Field* field = find(fields, key);
    return field && field->isString ? std::optional<std::string>(field->text) : std::nullopt;
}

std::optional<double> number(const std::vector<Field>& fields, std::string_view key)
{
    const Field* field = find(fields, key);
    double value = 0;
    if (!field || field->isString)
        return std::nullopt;
    const char* end = field->text.data() + field->text.size();
    const auto [stop, error] = std::from_chars(field->text.data(), end, value);
    return error == std::errc() && stop == end && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<long long> integer(const std::vector<Field>& fields, std::string_view key)
{
    const Field* field = find(fields, key);
    long long value = 0;
    if (!field || field->isString)
        return std::nullopt;
    const char* end = field->text.data() + field->text.size();
    const auto [stop, error] = std::from_chars(field->text.data(), end, value);
    return error == std::errc() && stop == end ? std::optional<long long>(value) : std::nullopt;
}

std::optional<bool> boolean(const std::vector<Field>& fields, std::string_view key)
{
    const Field* field = find(fields, key);
    if (!field || field->isString || (field->text != "true" && field->text != "false"))
        return std::nullopt;
    return field->text == "true";
}

}  // namespace flat_json
