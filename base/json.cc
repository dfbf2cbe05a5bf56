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

Json::Json() : arena_(ARENA_BLOCK, ARENA_BLOCK, 3, nullptr, false), objects_(false, 0) {
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

const char* Json::copy_string(const char* text, unsigned long length) {
    char* s = static_cast<char*>(alloc(length + 1));
    memcpy(s, text, length);
    s[length] = '\0';
    return s;
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

Json::Object* Json::add_object() {
    Object* o = new_object();
    objects_.push(o);
    return o;
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

Json::Value* Json::Value::push_null() {
    return push();
}

Json::Value* Json::Value::push_bool(bool value) {
    Value* v = push();
    if (v) {
        v->type_ = BOOLEAN;
        v->boolean_ = value;
    }
    return v;
}

Json::Value* Json::Value::push_string(const char* value) {
    Value* v = push();
    if (v) {
        v->type_ = STRING;
        v->string_ = json_->copy_string(value, strlen(value));
    }
    return v;
}

Json::Value* Json::Value::push_number(int64_t scaled, int decimals) {
    if (decimals < 0 || decimals > MAX_DECIMALS) return nullptr;
    Value* v = push();
    if (v) {
        v->type_ = NUMBER0 + decimals;
        v->number_ = scaled;
    }
    return v;
}

Json::Object* Json::Value::push_object() {
    Value* v = push();
    if (!v) return nullptr;
    v->type_ = OBJECT;
    v->object_ = json_->new_object();
    return v->object_;
}

Json::Value* Json::Value::push_array() {
    Value* v = push();
    if (v) {
        v->type_ = ARRAY;
        v->array_ = json_->new_vector();
    }
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

Json::Value* Json::Object::add(const char* name) {
    return attach(json_->copy_string(name, strlen(name)));
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

Json::Value* Json::Object::add_null(const char* name) {
    return add(name);
}

Json::Value* Json::Object::add_bool(const char* name, bool value) {
    Value* v = add(name);
    v->type_ = BOOLEAN;
    v->boolean_ = value;
    return v;
}

Json::Value* Json::Object::add_string(const char* name, const char* value) {
    Value* v = add(name);
    v->type_ = STRING;
    v->string_ = json_->copy_string(value, strlen(value));
    return v;
}

Json::Value* Json::Object::add_number(const char* name, int64_t scaled, int decimals) {
    if (decimals < 0 || decimals > MAX_DECIMALS) return nullptr;
    Value* v = add(name);
    v->type_ = NUMBER0 + decimals;
    v->number_ = scaled;
    return v;
}

Json::Object* Json::Object::add_object(const char* name) {
    Value* v = add(name);
    v->type_ = OBJECT;
    v->object_ = json_->new_object();
    return v->object_;
}

Json::Value* Json::Object::add_array(const char* name) {
    Value* v = add(name);
    v->type_ = ARRAY;
    v->array_ = json_->new_vector();
    return v;
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
