#include "relay/form.h"

#include "base/runtime_error.h"

namespace dorvane {
namespace {
Form* g_form = nullptr;
}

Form& CurrentForm() {
  if (!g_form) Raise(91, "Form", "Object variable or With block variable not set");
  return *g_form;
}

void SetForm(Form* form) { g_form = form; }

}  // namespace dorvane
