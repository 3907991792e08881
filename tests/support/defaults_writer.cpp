// Writes the defaults file over and over, each time with the next counter value in every key,
// until it is killed: the tests kill it in the middle of writes.
#include <cstdint>
#include <string>

#include "platform/linux/defaults_file.h"
#include "platform/linux/event_loop.h"
#include "platform/linux/libplist_property_lists.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    dorvane::EventLoop loop;
    dorvane::LibplistPropertyLists propertyLists;
    dorvane::DefaultsFile defaults(argv[1], loop, propertyLists);
    const std::string padding(20'000, 'p');
    for (std::int64_t counter = 1;; ++counter) {
        for (int key = 0; key < 20; ++key) {
            defaults.setObject("key" + std::to_string(key), counter);
        }
        defaults.setObject("padding", padding);
        defaults.synchronize();
    }
}
