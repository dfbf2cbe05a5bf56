#include "base/argument.h"

#include <string.h>

namespace Base {

const char NULL_STRING[] = "";

namespace {

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool is_switch(const char* w) {
    return w[0] == '-' && w[1] == '-' && is_letter(w[2]);
}

bool is_name(const char* w) {
    return w[0] == '-' && is_letter(w[1]);
}

}  // namespace

int get_arg_count(int argc, const char* const* argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        if (is_switch(argv[i])) continue;
        if (is_name(argv[i])) {
            ++i;  // its value
            continue;
        }
        ++count;
    }
    return count;
}

const char* get_arg_value(int argc, const char* const* argv, const char* name) {
    for (int i = 1; i < argc; ++i) {
        if (is_switch(argv[i])) {
            if (strcmp(argv[i], name) == 0) return argv[i];
        } else if (is_name(argv[i])) {
            if (strcmp(argv[i], name) == 0) return i + 1 < argc ? argv[i + 1] : NULL_STRING;
            ++i;
        }
    }
    return nullptr;
}

const char* get_arg_value(int argc, const char* const* argv, unsigned int index) {
    if (argc < 1) return nullptr;
    if (index == 0) return argv[0];
    unsigned int seen = 0;
    for (int i = 1; i < argc; ++i) {
        if (is_switch(argv[i])) continue;
        if (is_name(argv[i])) {
            ++i;
            continue;
        }
        if (++seen == index) return argv[i];
    }
    return nullptr;
}

}  // namespace Base
