// Predetermined file names: "Orvane-" + date + "-" [+ product piece] + suffix [+ "." + extension].
#include "Storage.h"
#include "platform/Environment.h"
#include "platform/System.h"
#include "platform/Time.h"

namespace Applications::Commands::Scrivlet {
namespace {

// Decided by system-information queries in this order; later queries are not made.
char platformLetter() {
    if (Sys::info(Sys::Key::Standalone) == 0) return 'S';
    if (Sys::info(Sys::Key::HostKind) == Sys::windowsHost) return 'W';
    if (Sys::info(Sys::Key::HostFamily) == Sys::hostWithRootNode)
        return Sys::info(Sys::Key::HostPaths) != 0 ? 'L' : 'X';
    return 'U';
}

Ref<String> productPiece() {
    Ref<ProductDescription> description = ProductDescription::open();
    if (!description) return {};
    Ref<String> shortName = description->lookup("product", "shortname");
    Ref<String> version = description->lookup("product", "version");
    if (isEmpty(shortName)) return {};
    Ref<String> product = shortName->concat('.')->concat(platformLetter())->concat("X")->concat("64");
    if (!isEmpty(version)) product = product->concat('-')->concat(version);
    return product->concat('-');
}

} // namespace

Ref<String> predeterminedFilename(const RunContext& run, const Ref<String>& extension) {
    const Parameters& p = *run.parameters;
    Ref<String> date = isEmpty(p.date) ? Date::currtime("Ymd") : p.date;
    Ref<String> suffix = isEmpty(p.suffix) ? String::create("user") : p.suffix;
    Ref<String> name = String::create("Orvane-")->concat(date)->concat('-');
    if (Ref<String> product = productPiece()) name = name->concat(product);
    name = name->concat(suffix);
    if (!isEmpty(extension)) name = name->concat('.')->concat(extension);
    return name;
}

// The text after the last "." of a source path, or the whole path when it has none.
Ref<String> extensionOf(const Ref<String>& source) {
    long dot = source->findLast('.');
    return dot < 0 ? source : source->substring(static_cast<size_t>(dot) + 1);
}

} // namespace Applications::Commands::Scrivlet
