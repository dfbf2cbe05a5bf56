#ifndef XELMD_BASE_ARGUMENT_H
#define XELMD_BASE_ARGUMENT_H

namespace Base {

// Command-line words. A switch is "--" and a letter (3+ characters); a name
// is "-" and a letter (2+ characters) and takes the next word as its value;
// every other word after argv[0] is plain. Any thread; no state.

// The value of a name given as the last word.
extern const char NULL_STRING[];

// Plain words after argv[0].
int get_arg_count(int argc, const char* const* argv);
// A switch equal to name: the switch itself; a name equal to name: its value
// (NULL_STRING when it is the last word); null when absent.
const char* get_arg_value(int argc, const char* const* argv, const char* name);
// The index-th plain word, argv[0] being index 0; null past the end.
const char* get_arg_value(int argc, const char* const* argv, unsigned int index);

}  // namespace Base

#endif  // XELMD_BASE_ARGUMENT_H
