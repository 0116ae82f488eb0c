#include "lock/linux/GSettingsLock.h"

#include <gio/gio.h>

#include <memory>

namespace tovak::lock {

namespace {

using Variant = std::unique_ptr<GVariant, void (*)(GVariant*)>;

// key of schemaId as GSettings has it, when the schema is installed with that key and the value
// is of type. Looked up first: GSettings ends the process when asked for a schema it lacks.
Variant read(const char* schemaId, const char* key, const GVariantType* type) {
    Variant none(nullptr, g_variant_unref);
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) {
        return none;
    }
    const std::unique_ptr<GSettingsSchema, void (*)(GSettingsSchema*)> schema(
        g_settings_schema_source_lookup(source, schemaId, TRUE), g_settings_schema_unref);
    if (!schema || g_settings_schema_has_key(schema.get(), key) == FALSE) {
        return none;
    }
    const std::unique_ptr<GSettings, void (*)(gpointer)> settings(g_settings_new_full(schema.get(), nullptr, nullptr),
                                                                  g_object_unref);
    Variant value(g_settings_get_value(settings.get(), key), g_variant_unref);
    return value && g_variant_is_of_type(value.get(), type) != FALSE ? std::move(value) : std::move(none);
}

}  // namespace

std::optional<LockerPolicy> gsettingsLockerPolicy(const GSettingsLock& where) {
    const Variant enabled = read(where.schema, "lock-enabled", G_VARIANT_TYPE_BOOLEAN);
    // GNOME and Cinnamon count the delay unsigned, MATE signed.
    const Variant delay = read(where.schema, "lock-delay", G_VARIANT_TYPE_BASIC);
    if (!enabled || !delay) {
        return std::nullopt;
    }
    double count = 0;
    if (g_variant_is_of_type(delay.get(), G_VARIANT_TYPE_UINT32) != FALSE) {
        count = g_variant_get_uint32(delay.get());
    } else if (g_variant_is_of_type(delay.get(), G_VARIANT_TYPE_INT32) != FALSE &&
               g_variant_get_int32(delay.get()) >= 0) {
        count = g_variant_get_int32(delay.get());
    } else {
        return std::nullopt;
    }
    // An administrator's lockdown forbids the lock whatever the user chose.
    const Variant lockdown = read(where.lockdownSchema, "disable-lock-screen", G_VARIANT_TYPE_BOOLEAN);
    const bool locks =
        g_variant_get_boolean(enabled.get()) != FALSE && !(lockdown && g_variant_get_boolean(lockdown.get()) != FALSE);
    return LockerPolicy{locks, count * where.delayUnitSeconds};
}

}  // namespace tovak::lock
