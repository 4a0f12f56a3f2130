#pragma once
// The platform's environment: its well-known paths and the installation's product description.
#include "String.h"

namespace PlatformEnvironment {
Ref<String> getPathNode(unsigned pathId);
Ref<String> getPath(unsigned pathId);
bool ensureHostPathHierarchy(const Ref<String>& path, bool create);
} // namespace PlatformEnvironment

// The installation's product description (group "product").
class ProductDescription : public Object {
  public:
    static Ref<ProductDescription> open();
    Ref<String> lookup(const char* group, const char* key) const;

  private:
    ProductDescription() = default;
};
