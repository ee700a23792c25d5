#include "platform/desktop/GnomeMouseSettings.h"

#include <gio/gio.h>
#include <memory>

namespace velm {
namespace {

struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct KeyUnref {
    void operator()(GSettingsSchemaKey* key) const { g_settings_schema_key_unref(key); }
};
struct SettingsUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// True when the schema holds the key as a 32-bit integer (another version of it might not).
bool hasIntegerKey(GSettingsSchema* schema, const char* name) {
    if (!g_settings_schema_has_key(schema, name)) {
        return false;
    }
    const std::unique_ptr<GSettingsSchemaKey, KeyUnref> key(g_settings_schema_get_key(schema, name));
    return g_variant_type_equal(g_settings_schema_key_get_value_type(key.get()), G_VARIANT_TYPE_INT32);
}

} // namespace

std::optional<std::int32_t> GnomeMouseSettings::doubleClickMilliseconds() {
    // Null when no schema at all is installed.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) {
        return std::nullopt;
    }
    const std::unique_ptr<GSettingsSchema, SchemaUnref> schema(
        g_settings_schema_source_lookup(source, schemaId, TRUE));
    // A relocatable schema of that name has no place of its own to read from.
    if (!schema || g_settings_schema_get_path(schema.get()) == nullptr ||
        !hasIntegerKey(schema.get(), doubleClickKey)) {
        return std::nullopt;
    }
    const std::unique_ptr<GSettings, SettingsUnref> settings(
        g_settings_new_full(schema.get(), nullptr, nullptr));
    return g_settings_get_int(settings.get(), doubleClickKey);
}

} // namespace velm
