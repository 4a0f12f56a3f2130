#pragma once
// Lets a platform thread run an arbitrary function object.
#include "platform/System.h"
#include <functional>

namespace Libraries::STL {

class FunctionThd : public Object, public Exec {
  public:
    explicit FunctionThd(std::function<void()>&& function) : m_function(std::move(function)) {
        function = nullptr;
    }
    void run() override { m_function(); }

  private:
    std::function<void()> m_function;
};

} // namespace Libraries::STL
