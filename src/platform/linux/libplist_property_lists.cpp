#include "platform/linux/libplist_property_lists.h"

#include "base/overloaded.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace dorvane {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;

struct MallocFree {
    void operator()(void* memory) const { std::free(memory); }
};

// libplist counts dates in seconds from the start of 2001, as property lists do.
constexpr std::int64_t kSecondsFrom1970To2001 = 978'307'200;

plist_t toNode(const PlistValue& value) {
    return std::visit(
        Overloaded{
            [](bool b) { return plist_new_bool(b ? 1 : 0); },
            // libplist keeps every integer as 64 unsigned bits and writes them back signed.
            [](std::int64_t n) { return plist_new_uint(static_cast<std::uint64_t>(n)); },
            [](double d) { return plist_new_real(d); },
            [](const std::string& s) { return plist_new_string(s.c_str()); },
            [](const Date& date) {
                const auto micros =
                    std::chrono::duration_cast<std::chrono::microseconds>(date.time_since_epoch())
                        .count() -
                    kSecondsFrom1970To2001 * 1'000'000;
                const auto seconds =
                    micros >= 0 ? micros / 1'000'000 : (micros - 999'999) / 1'000'000;
                return plist_new_date(static_cast<std::int32_t>(seconds),
                                      static_cast<std::int32_t>(micros - seconds * 1'000'000));
            },
            [](const PlistData& data) {
                return plist_new_data(data.bytes.data(), data.bytes.size());
            },
            [](const PlistArray& array) {
                plist_t node = plist_new_array();
                for (const PlistValue& item : array) {
                    plist_array_append_item(node, toNode(item));
                }
                return node;
            },
            [](const PlistDictionary& dictionary) {
                plist_t node = plist_new_dict();
                for (const auto& [key, item] : dictionary) {
                    plist_dict_set_item(node, key.c_str(), toNode(item));
                }
                return node;
            }},
        value.value);
}

// Deeper nesting than this is no property list the application writes or reads, and is refused
// before the conversion's recursion could exhaust the stack.
constexpr int kMaximumDepth = 32;

// Converts a node; identifiers, which the application never meets, are passed over.
// Sets tooDeep, and gives up, past the maximum depth.
std::optional<PlistValue> fromNode(plist_t node, int depth, bool& tooDeep) {
    if (depth > kMaximumDepth) {
        tooDeep = true;
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return PlistValue{b != 0};
        }
        case PLIST_UINT: {
            std::uint64_t n = 0;
            plist_get_uint_val(node, &n);
            return PlistValue{static_cast<std::int64_t>(n)};
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return PlistValue{d};
        }
        case PLIST_STRING: {
            // Read by pointer and length: plist_get_string_val aborts on a text holding a zero.
            // XML cannot carry a zero, and libplist writes a text only up to one, so a text that
            // holds one (from a malformed file libplist accepts) is read up to it: as it would
            // be written back, not as a value that a save would change silently.
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            const std::string whole = text != nullptr ? std::string(text, length) : std::string();
            return PlistValue{whole.substr(0, whole.find('\0'))};
        }
        case PLIST_DATE: {
            std::int32_t seconds = 0;
            std::int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            return PlistValue{Date(std::chrono::microseconds(
                (static_cast<std::int64_t>(seconds) + kSecondsFrom1970To2001) * 1'000'000 +
                micros))};
        }
        case PLIST_DATA: {
            char* raw = nullptr;
            std::uint64_t length = 0;
            plist_get_data_val(node, &raw, &length);
            const std::unique_ptr<char, MallocFree> bytes(raw);
            return PlistValue{PlistData{std::string(bytes ? bytes.get() : "", bytes ? length : 0)}};
        }
        case PLIST_ARRAY: {
            PlistArray array;
            for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i) {
                auto item = fromNode(plist_array_get_item(node, i), depth + 1, tooDeep);
                if (tooDeep) {
                    return std::nullopt;
                }
                if (item) {
                    array.push_back(std::move(*item));
                }
            }
            return PlistValue{std::move(array)};
        }
        case PLIST_DICT: {
            PlistDictionary dictionary;
            plist_dict_iter raw = nullptr;
            plist_dict_new_iter(node, &raw);
            const std::unique_ptr<void, MallocFree> iterator(raw);
            while (true) {
                char* rawKey = nullptr;
                plist_t item = nullptr;
                plist_dict_next_item(node, raw, &rawKey, &item);
                const std::unique_ptr<char, MallocFree> key(rawKey);
                if (!key || item == nullptr) {
                    break;
                }
                auto value = fromNode(item, depth + 1, tooDeep);
                if (tooDeep) {
                    return std::nullopt;
                }
                if (value) {
                    dictionary.emplace(key.get(), std::move(*value));
                }
            }
            return PlistValue{std::move(dictionary)};
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> LibplistPropertyLists::xmlData(const PlistValue& root,
                                                          std::string* error) {
    const PlistNode node(toNode(root));
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node.get(), &xml, &length);
    if (xml == nullptr) {
        if (error != nullptr) {
            *error = "the property list could not be written as XML";
        }
        return std::nullopt;
    }
    std::string data(xml, length);
    plist_to_xml_free(xml);
    return data;
}

std::optional<PlistValue> LibplistPropertyLists::parse(std::string_view data, std::string* error) {
    plist_t raw = nullptr;
    if (data.size() <= UINT32_MAX) {
        plist_from_memory(data.data(), static_cast<std::uint32_t>(data.size()), &raw);
    }
    const PlistNode node(raw);
    bool tooDeep = false;
    auto value = node ? fromNode(node.get(), 0, tooDeep) : std::nullopt;
    if (!value && error != nullptr) {
        *error = tooDeep ? "a property list nested too deep" : "not a property list";
    }
    return value;
}

}  // namespace dorvane
