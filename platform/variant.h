// VARIANT: a small tagged value with the VT_ codes the server uses.
//
// Contract: reading a value of another type is an error (DISP_E_TYPEMISMATCH
// from the typed getters), never undefined behaviour. ChangeType converts
// between the numeric types, BOOL and BSTR with the OLE rules that matter
// here (range checked: DISP_E_OVERFLOW; unparsable text: DISP_E_TYPEMISMATCH).
// Reals round half to even into integers; BOOL becomes -1/0 as a number and
// "-1"/"0" as text; text becomes BOOL from "True"/"False" or a number; EMPTY
// is 0, "" or FALSE. DATE converts as its number, never as text; NULL,
// ERROR and EMPTY as targets are DISP_E_TYPEMISMATCH, an unknown VT_ code
// DISP_E_BADVARTYPE.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using DATE = double;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

class VARIANT {
 public:
  VARTYPE vt = VT_EMPTY;
  union {
    int16_t iVal;
    int32_t lVal;
    float fltVal;
    double dblVal;
    DATE date;
    VARIANT_BOOL boolVal;
    int8_t cVal;
    uint8_t bVal;
    uint16_t uiVal;
    uint32_t ulVal;
    HRESULT scode;
  };
  BSTR bstrVal;  // meaningful only when vt == VT_BSTR

  VARIANT() : dblVal(0) {}
  static VARIANT I2(int16_t v) { VARIANT r; r.vt = VT_I2; r.iVal = v; return r; }
  static VARIANT I4(int32_t v) { VARIANT r; r.vt = VT_I4; r.lVal = v; return r; }
  static VARIANT UI2(uint16_t v) { VARIANT r; r.vt = VT_UI2; r.uiVal = v; return r; }
  static VARIANT UI4(uint32_t v) { VARIANT r; r.vt = VT_UI4; r.ulVal = v; return r; }
  static VARIANT R4(float v) { VARIANT r; r.vt = VT_R4; r.fltVal = v; return r; }
  static VARIANT R8(double v) { VARIANT r; r.vt = VT_R8; r.dblVal = v; return r; }
  static VARIANT Date(DATE v) { VARIANT r; r.vt = VT_DATE; r.date = v; return r; }
  // Boolean, not Bool: Xlib defines Bool as a macro.
  static VARIANT Boolean(bool v) { VARIANT r; r.vt = VT_BOOL; r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; return r; }
  static VARIANT Bstr(std::string v) { VARIANT r; r.vt = VT_BSTR; r.bstrVal = std::move(v); return r; }

  void Clear() { vt = VT_EMPTY; dblVal = 0; bstrVal.clear(); }

  // Typed reads: S_OK when vt is exactly the asked type, else DISP_E_TYPEMISMATCH
  // and the output untouched.
  HRESULT GetI4(int32_t& out) const { return vt == VT_I4 ? (out = lVal, S_OK) : DISP_E_TYPEMISMATCH; }
  HRESULT GetUI4(uint32_t& out) const { return vt == VT_UI4 ? (out = ulVal, S_OK) : DISP_E_TYPEMISMATCH; }
  HRESULT GetUI2(uint16_t& out) const { return vt == VT_UI2 ? (out = uiVal, S_OK) : DISP_E_TYPEMISMATCH; }
  HRESULT GetR4(float& out) const { return vt == VT_R4 ? (out = fltVal, S_OK) : DISP_E_TYPEMISMATCH; }
  HRESULT GetBstr(std::string& out) const { return vt == VT_BSTR ? (out = bstrVal, S_OK) : DISP_E_TYPEMISMATCH; }

  // Converts in place to type `to`. On failure the value is unchanged.
  HRESULT ChangeType(VARTYPE to);

  // Same type and same value (BSTR by content).
  friend bool operator==(const VARIANT& a, const VARIANT& b);
};

// The Windows function names, for code that reads like the server's.
inline void VariantInit(VARIANT* v) { v->Clear(); }
inline HRESULT VariantClear(VARIANT* v) { v->Clear(); return S_OK; }
inline HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) { *dst = *src; return S_OK; }
