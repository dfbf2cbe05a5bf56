#include "tools/front/scenario.h"

#include <cstring>

#include "base/json.h"
#include "tools/front/config_text.h"

namespace Front {

namespace {

// In the order of Scenario::Action.
const char* const ACTION_NAMES[] = {"drop",    "stall",     "bad_sequence", "oversized_frame",
                                    "garbage", "key_error", "key_refused"};
const int ACTION_COUNT = sizeof(ACTION_NAMES) / sizeof(ACTION_NAMES[0]);
static_assert(ACTION_COUNT == Scenario::KEY_REFUSED + 1, "one name per action");

// A non-negative number property in thousandths; absent gives fallback.
bool read_number(const Base::Json::Object* o, const char* name, double limit, double fallback,
                 double& out, std::string& error) {
    Base::Json::Property* p = o->get_property(name);
    if (p == nullptr) {
        out = fallback;
        return true;
    }
    if (!p->get_value()->is_number()) {
        error = std::string("\"") + name + "\" must be a number";
        return false;
    }
    out = Base::Json::get_float(p->get_value());
    if (out < 0 || out > limit) {
        char text[96];
        snprintf(text, sizeof text, "\"%s\" must lie between 0 and %.0f", name, limit);
        error = text;
        return false;
    }
    return true;
}

bool read_fault(const Base::Json::Value* value, Scenario::Fault& fault, std::string& error) {
    const Base::Json::Object* o = value->get_object();
    if (o == nullptr) {
        error = "must be an object";
        return false;
    }
    const char* action = ConfigText::string_of(o, "action");
    if (action == nullptr) {
        error = "needs \"action\" as a string";
        return false;
    }
    int found = -1;
    for (int i = 0; i < ACTION_COUNT; ++i)
        if (strcmp(action, ACTION_NAMES[i]) == 0) found = i;
    if (found < 0) {
        error = std::string("unknown action \"") + action +
                "\" (drop, stall, bad_sequence, oversized_frame, garbage, key_error, key_refused)";
        return false;
    }
    for (int i = 0; i < o->get_size(); ++i) {
        const char* name = o->get_property(i)->get_name();
        if (strcmp(name, "action") && strcmp(name, "after") && strcmp(name, "connection") &&
            strcmp(name, "seconds") && strcmp(name, "bytes")) {
            error = std::string("unknown member \"") + name + "\"";
            return false;
        }
    }
    fault.action = static_cast<Scenario::Action>(found);
    double after, connection, seconds, bytes;
    if (!read_number(o, "after", 86400, 0, after, error) ||
        !read_number(o, "connection", 1000000, 1, connection, error) ||
        !read_number(o, "seconds", 86400, 0, seconds, error) ||
        !read_number(o, "bytes", 65536, 64, bytes, error))
        return false;
    bool at_key_exchange =
        fault.action == Scenario::KEY_ERROR || fault.action == Scenario::KEY_REFUSED;
    if (at_key_exchange && o->get_property("after") != nullptr) {
        error = std::string(action) + " acts at the key exchange and takes no \"after\"";
        return false;
    }
    if (fault.action == Scenario::GARBAGE && bytes < 1) {
        error = "\"bytes\" must be at least 1";
        return false;
    }
    fault.after_ms = static_cast<unsigned long>(after * 1000 + 0.5);
    fault.connection = static_cast<int>(connection);
    fault.seconds = static_cast<unsigned long>(seconds);
    fault.bytes = static_cast<int>(bytes);
    return true;
}

}  // namespace

bool Scenario::load(const char* path, std::string& error) {
    std::string text;
    if (!ConfigText::read_file(path, text, error)) return false;
    if (parse(text, error)) return true;
    error = std::string(path) + ": " + error;
    return false;
}

bool Scenario::parse(const std::string& text, std::string& error) {
    faults_.clear();
    Base::Json json;
    if (!ConfigText::parse(json, text, error)) return false;
    if (json.get_object_count() != 1) {
        error = "expected one object holding \"faults\"";
        return false;
    }
    Base::Json::Property* p = json.get_object(0)->get_property("faults");
    if (p == nullptr || p->get_value()->get_type() != Base::Json::ARRAY) {
        error = "\"faults\" must be an array";
        return false;
    }
    const Base::Json::Value* list = p->get_value();
    for (int i = 0; i < list->get_size(); ++i) {
        Fault fault;
        std::string why;
        if (!read_fault(list->get_item(i), fault, why)) {
            faults_.clear();
            error = "fault " + std::to_string(i + 1) + ": " + why;
            return false;
        }
        faults_.push_back(fault);
    }
    return true;
}

std::vector<Scenario::Fault> Scenario::for_connection(int n) const {
    std::vector<Fault> out;
    for (const Fault& f : faults_)
        if (f.connection == 0 || f.connection == n) out.push_back(f);
    return out;
}

const char* Scenario::get_name(Action action) {
    return ACTION_NAMES[action];
}

}  // namespace Front
