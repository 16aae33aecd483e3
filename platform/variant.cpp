#include "platform/variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <strings.h>

// Conversions go through a double, which holds every value of the types
// here exactly; integers round half to even, as OLE does.
namespace {

bool IsNumeric(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4:
    case VT_R4: case VT_R8: case VT_DATE:
      return true;
    default:
      return false;
  }
}

bool IsKnown(VARTYPE vt) {
  return IsNumeric(vt) || vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR || vt == VT_BOOL ||
         vt == VT_ERROR;
}

double NumericValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal;
    default: return 0;
  }
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

HRESULT ParseNumber(const std::string& text, double& out) {
  std::string t = Trim(text);
  if (t.empty()) return DISP_E_TYPEMISMATCH;
  char* end = nullptr;
  double d = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || std::isnan(d)) return DISP_E_TYPEMISMATCH;
  if (std::isinf(d)) return DISP_E_OVERFLOW;
  out = d;
  return S_OK;
}

template <class T>
HRESULT ToInteger(double d, T& out) {
  double r = std::nearbyint(d);  // default rounding mode: half to even
  if (std::isnan(r) || r < double(std::numeric_limits<T>::min()) ||
      r > double(std::numeric_limits<T>::max()))
    return DISP_E_OVERFLOW;
  out = static_cast<T>(r);
  return S_OK;
}

// BOOL to unsigned keeps the bits of VARIANT_TRUE (all ones), as OLE does.
template <class T>
HRESULT BoolToInteger(VARIANT_BOOL b, T& out) {
  out = static_cast<T>(b);
  return S_OK;
}

std::string FormatReal(double d, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*G", digits, d);
  return text;
}

HRESULT ToBstr(const VARIANT& v, std::string& out) {
  switch (v.vt) {
    case VT_EMPTY: out.clear(); return S_OK;
    case VT_I1: case VT_I2: case VT_I4: case VT_UI1: case VT_UI2: case VT_UI4: case VT_BOOL:
      out = std::to_string(static_cast<long long>(NumericValue(v)));
      return S_OK;
    case VT_R4: out = FormatReal(v.fltVal, 7); return S_OK;
    case VT_R8: out = FormatReal(v.dblVal, 15); return S_OK;
    default: return DISP_E_TYPEMISMATCH;  // dates as text are not offered
  }
}

HRESULT ToBool(const VARIANT& v, VARIANT_BOOL& out) {
  if (v.vt == VT_EMPTY) return out = VARIANT_FALSE, S_OK;
  if (v.vt == VT_BSTR) {
    std::string t = Trim(v.bstrVal);
    if (strcasecmp(t.c_str(), "true") == 0) return out = VARIANT_TRUE, S_OK;
    if (strcasecmp(t.c_str(), "false") == 0) return out = VARIANT_FALSE, S_OK;
    double d;
    HRESULT hr = ParseNumber(t, d);
    if (FAILED(hr)) return hr;
    out = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (!IsNumeric(v.vt)) return DISP_E_TYPEMISMATCH;
  out = NumericValue(v) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

// The value of v as a number for a numeric target.
HRESULT SourceNumber(const VARIANT& v, double& out) {
  if (v.vt == VT_EMPTY) return out = 0, S_OK;
  if (v.vt == VT_BSTR) return ParseNumber(v.bstrVal, out);
  if (v.vt == VT_BOOL || IsNumeric(v.vt)) return out = NumericValue(v), S_OK;
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToNumeric(const VARIANT& v, VARTYPE to, VARIANT& r) {
  r.vt = to;
  if (v.vt == VT_BOOL) {
    switch (to) {
      case VT_I1: return BoolToInteger(v.boolVal, r.cVal);
      case VT_I2: return BoolToInteger(v.boolVal, r.iVal);
      case VT_I4: return BoolToInteger(v.boolVal, r.lVal);
      case VT_UI1: return BoolToInteger(v.boolVal, r.bVal);
      case VT_UI2: return BoolToInteger(v.boolVal, r.uiVal);
      case VT_UI4: return BoolToInteger(v.boolVal, r.ulVal);
      default: break;
    }
  }
  double d;
  HRESULT hr = SourceNumber(v, d);
  if (FAILED(hr)) return hr;
  switch (to) {
    case VT_I1: return ToInteger(d, r.cVal);
    case VT_I2: return ToInteger(d, r.iVal);
    case VT_I4: return ToInteger(d, r.lVal);
    case VT_UI1: return ToInteger(d, r.bVal);
    case VT_UI2: return ToInteger(d, r.uiVal);
    case VT_UI4: return ToInteger(d, r.ulVal);
    case VT_R4:
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
      r.fltVal = static_cast<float>(d);
      return S_OK;
    case VT_R8: r.dblVal = d; return S_OK;
    case VT_DATE: r.date = d; return S_OK;
    default: return DISP_E_BADVARTYPE;
  }
}

}  // namespace

HRESULT VARIANT::ChangeType(VARTYPE to) {
  if (!IsKnown(to)) return DISP_E_BADVARTYPE;
  if (to == vt) return S_OK;
  if (vt == VT_NULL || vt == VT_ERROR || to == VT_NULL || to == VT_ERROR || to == VT_EMPTY)
    return DISP_E_TYPEMISMATCH;
  VARIANT r;
  HRESULT hr;
  if (to == VT_BSTR) {
    hr = ToBstr(*this, r.bstrVal);
    r.vt = VT_BSTR;
  } else if (to == VT_BOOL) {
    hr = ToBool(*this, r.boolVal);
    r.vt = VT_BOOL;
  } else {
    hr = ToNumeric(*this, to, r);
  }
  if (SUCCEEDED(hr)) *this = std::move(r);
  return hr;
}

bool operator==(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_BSTR: return a.bstrVal == b.bstrVal;
    case VT_ERROR: return a.scode == b.scode;
    case VT_BOOL: return a.boolVal == b.boolVal;
    default: return IsNumeric(a.vt) && NumericValue(a) == NumericValue(b);
  }
}
