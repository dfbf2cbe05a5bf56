#include "base/json.h"

#include <string.h>
#include <new>

#include "base/data_type.h"

namespace Base {

namespace {

// Small nodes: a document is usually a handful of records.
constexpr int NODES_PER_BLOCK = 16;
constexpr unsigned long ARENA_BLOCK = 4096;

}  // namespace

// ---- document ----

Json::Json() : arena_(ARENA_BLOCK, ARENA_BLOCK, 3, nullptr), objects_(false, 0) {
    vectors_ = new Vector(0, 64, 1, nullptr);
}

Json::~Json() {
    Vector::Iterator it(vectors_);
    while (void* v = it.next()) delete static_cast<Vector*>(v);
    delete vectors_;
}

void* Json::alloc(unsigned long size) {
    // Every node holds 8-byte members; keep them aligned.
    return arena_.alloc((size + 7) & ~7UL);
}

Vector* Json::new_vector() {
    Vector* v = new Vector(0, NODES_PER_BLOCK, 1, nullptr);
    vectors_->set(vectors_->get_count(), v);
    return v;
}

Json::Object* Json::new_object() {
    Object* o = new (alloc(sizeof(Object))) Object();
    o->json_ = this;
    o->properties_ = new_vector();
    return o;
}

Json::Object* Json::get_object(int index) const {
    if (index < 0) return nullptr;
    Queue::Iterator it(&objects_);
    void* o = it.next();
    for (int i = 0; o && i < index; ++i) o = it.next();
    return static_cast<Object*>(o);
}

// ---- values ----

int Json::Value::get_size() const {
    return type_ == ARRAY ? static_cast<int>(array_->get_count()) : 0;
}

Json::Value* Json::Value::get_item(int index) const {
    if (type_ != ARRAY || index < 0) return nullptr;
    return static_cast<Value*>(array_->get(static_cast<unsigned int>(index)));
}

Json::Value* Json::Value::push() {
    if (type_ != ARRAY) return nullptr;
    Value* v = new (json_->alloc(sizeof(Value))) Value();
    v->type_ = NULL_VALUE;
    v->json_ = json_;
    v->number_ = 0;
    array_->set(array_->get_count(), v);
    return v;
}

// ---- objects ----

Json::Property* Json::Object::get_property(const char* name) const {
    Vector::Iterator it(properties_);
    while (void* p = it.next()) {
        Property* property = static_cast<Property*>(p);
        if (strcmp(property->name_, name) == 0) return property;
    }
    return nullptr;
}

int Json::Object::get_size() const {
    return static_cast<int>(properties_->get_count());
}

Json::Property* Json::Object::get_property(int index) const {
    if (index < 0) return nullptr;
    return static_cast<Property*>(properties_->get(static_cast<unsigned int>(index)));
}

Json::Value* Json::Object::attach(const char* name) {
    Property* p = new (json_->alloc(sizeof(Property))) Property();
    p->name_ = name;
    p->value_.type_ = NULL_VALUE;
    p->value_.json_ = json_;
    p->value_.number_ = 0;
    properties_->set(properties_->get_count(), p);
    return &p->value_;
}

// ---- numbers ----

bool Json::get_number(const Value* value, int64_t& scaled, int& decimals) {
    if (!value || !value->is_number()) return false;
    scaled = value->number_;
    decimals = value->type_ - NUMBER0;
    return true;
}

double Json::get_float(const Value* value) {
    if (!value || !value->is_number()) return 0;
    return static_cast<double>(value->number_) * FIXED_POINT_INVERSE[value->type_ - NUMBER0];
}

bool Json::get_number(const Value* value, int& number) {
    int64_t scaled;
    int decimals;
    if (!get_number(value, scaled, decimals)) return false;
    int64_t whole = scaled / FIXED_POINT_POWER[decimals];
    if (whole < INT32_MIN || whole > INT32_MAX) return false;
    number = static_cast<int>(whole);
    return true;
}

}  // namespace Base
