// Snapshots of what a caller hands to Invoke (dispatch_snapshot.h).
#include "dispatch_snapshot.h"

namespace vavizav::testing {
namespace {

void AppendBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), bytes, bytes + size);
}

void AppendBstr(std::vector<std::uint8_t>& out, BSTR text) {
  if (text == nullptr) return;
  // The length prefix, the characters and the terminator.
  AppendBytes(out, reinterpret_cast<const std::uint8_t*>(text) - 4, SysStringByteLen(text) + 4 + sizeof(OLECHAR));
}

void AppendVariant(std::vector<std::uint8_t>& out, const VARIANT& value);

void AppendArray(std::vector<std::uint8_t>& out, const SAFEARRAY* array) {
  if (array == nullptr) return;
  AppendBytes(out, array, sizeof(SAFEARRAY) + (array->cDims - 1) * sizeof(SAFEARRAYBOUND));
  ULONG count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  if (array->pvData == nullptr) return;
  AppendBytes(out, array->pvData, count * array->cbElements);
  if (array->fFeatures & FADF_BSTR) {
    for (ULONG i = 0; i < count; ++i) AppendBstr(out, static_cast<BSTR*>(array->pvData)[i]);
  } else if (array->fFeatures & FADF_VARIANT) {
    for (ULONG i = 0; i < count; ++i) AppendVariant(out, static_cast<VARIANT*>(array->pvData)[i]);
  }
}

std::size_t ReferencedSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return sizeof(void*);  // interfaces and the like: the pointer itself
  }
}

void AppendVariant(std::vector<std::uint8_t>& out, const VARIANT& value) {
  AppendBytes(out, &value, sizeof value);
  const VARTYPE type = V_VT(&value);
  const VARTYPE base = type & VT_TYPEMASK;
  if (type & VT_BYREF) {
    const void* target = V_BYREF(&value);
    if (target == nullptr) return;
    if (type & VT_ARRAY) {
      AppendBytes(out, target, sizeof(SAFEARRAY*));
      AppendArray(out, *static_cast<SAFEARRAY* const*>(target));
    } else if (base == VT_VARIANT) {
      AppendVariant(out, *static_cast<const VARIANT*>(target));
    } else if (base == VT_BSTR) {
      AppendBytes(out, target, sizeof(BSTR));
      AppendBstr(out, *static_cast<const BSTR*>(target));
    } else {
      AppendBytes(out, target, ReferencedSize(base));
    }
  } else if (type & VT_ARRAY) {
    AppendArray(out, V_ARRAY(&value));
  } else if (base == VT_BSTR) {
    AppendBstr(out, V_BSTR(&value));
  }
}

}  // namespace

std::vector<std::uint8_t> Snapshot(const DISPPARAMS* params) {
  std::vector<std::uint8_t> out;
  if (params == nullptr) return out;
  AppendBytes(out, params, sizeof *params);
  if (params->rgvarg != nullptr) {
    for (UINT i = 0; i < params->cArgs; ++i) AppendVariant(out, params->rgvarg[i]);
  }
  if (params->rgdispidNamedArgs != nullptr) {
    AppendBytes(out, params->rgdispidNamedArgs, params->cNamedArgs * sizeof(DISPID));
  }
  return out;
}

}  // namespace vavizav::testing
