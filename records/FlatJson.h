#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one-line JSON objects of records and plans, written and read without a document tree:
// a merge reads a million of them. Flat objects only: strings, numbers, true, false and null.
namespace flat_json {

class Writer {
public:
    Writer& text(std::string_view key, std::string_view value);
    Writer& number(std::string_view key, double value);  // null unless finite
    Writer& integer(std::string_view key, long long value);
    Writer& boolean(std::string_view key, bool value);
    Writer& null(std::string_view key);
    // The object and its "\n".
    std::string line() const { return line_ + "}\n"; }

private:
    void key(std::string_view key);
    std::string line_ = start();
    static std::string start()
    {
        std::string line;
        line.reserve(512);
        line += '{';
        return line;
    }
};

struct Field {
    std::string key;
    std::string text;  // a string's text unescaped, else the value as written (number, true, ...)
    bool isString = false;
};

// The fields of one object; nothing when the line is not one flat object.
std::optional<std::vector<Field>> parse(std::string_view line);

// Lookups in parsed fields; nothing when the field is missing or of another kind.
const Field* find(const std::vector<Field>& fields, std::string_view key);
std::optional<std::string> text(const std::vector<Field>& fields, std::string_view key);
std::optional<double> number(const std::vector<Field>& fields, std::string_view key);  // also from null: nothing
std::optional<long long> integer(const std::vector<Field>& fields, std::string_view key);
std::optional<bool> boolean(const std::vector<Field>& fields, std::string_view key);

}  // namespace flat_json
