// The call log: the names of calls and values, one line per call, the call
// counts and the failure rules.
#include "platform/call_log.h"

#include <cstdio>

namespace {

const char* const callKindNames[] = {
    "CreateTexture", "CreateVertexBuffer", "SetFVF", "SetRenderState", "SetSamplerState", "SetTexture",
    "BeginScene",    "EndScene",           "Clear",  "SetTransform",   "SetStreamSource", "DrawPrimitive",
    "LockRect",      "UnlockRect",         "Lock",   "Unlock",         "AddRef",          "Release",
};
static_assert(sizeof(callKindNames) / sizeof(callKindNames[0]) == static_cast<size_t>(CallKind::Count_),
              "one name per call kind");

struct NamedValue {
    DWORD value;
    const char* name;
};
#define NAMED(constant)                         \
    {                                           \
        static_cast<DWORD>(constant), #constant \
    }

// Every value the stand-in header declares; others are printed as numbers.
const NamedValue renderStateNames[] = {
    NAMED(D3DRS_ZENABLE),
    NAMED(D3DRS_ZWRITEENABLE),
    NAMED(D3DRS_ALPHATESTENABLE),
    NAMED(D3DRS_SRCBLEND),
    NAMED(D3DRS_DESTBLEND),
    NAMED(D3DRS_CULLMODE),
    NAMED(D3DRS_ZFUNC),
    NAMED(D3DRS_ALPHAREF),
    NAMED(D3DRS_ALPHAFUNC),
    NAMED(D3DRS_ALPHABLENDENABLE),
    NAMED(D3DRS_LIGHTING),
    NAMED(D3DRS_COLORVERTEX),
    NAMED(D3DRS_DIFFUSEMATERIALSOURCE),
    NAMED(D3DRS_COLORWRITEENABLE),
    NAMED(D3DRS_BLENDOP),
};
const NamedValue samplerStateNames[] = {
    NAMED(D3DSAMP_ADDRESSU),  NAMED(D3DSAMP_ADDRESSV),  NAMED(D3DSAMP_BORDERCOLOR),   NAMED(D3DSAMP_MAGFILTER),
    NAMED(D3DSAMP_MINFILTER), NAMED(D3DSAMP_MIPFILTER), NAMED(D3DSAMP_MAXANISOTROPY),
};
const NamedValue transformNames[] = {NAMED(D3DTS_VIEW), NAMED(D3DTS_PROJECTION), NAMED(D3DTS_WORLD)};
const NamedValue formatNames[] = {NAMED(D3DFMT_A8R8G8B8), NAMED(D3DFMT_X8R8G8B8)};
const NamedValue poolNames[] = {NAMED(D3DPOOL_DEFAULT)};
const NamedValue primitiveNames[] = {NAMED(D3DPT_TRIANGLELIST), NAMED(D3DPT_TRIANGLESTRIP), NAMED(D3DPT_TRIANGLEFAN)};
#undef NAMED

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

// Nine significant digits read back to the same float.
std::string FloatText(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string Number(unsigned long value) { return std::to_string(value); }

template <size_t N>
std::string NameOr(const NamedValue (&table)[N], DWORD value)
{
    for (const NamedValue& entry : table)
        if (entry.value == value)
            return entry.name;
    return Number(value);
}

std::string ObjectText(int id) { return id == 0 ? std::string("null") : "#" + std::to_string(id); }

std::string Given(bool given, const char* what) { return given ? what : "null"; }

std::string MatrixText(const D3DMATRIX& matrix)
{
    std::string text = "[";
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            text += FloatText(matrix.m[row][column]) + (column < 3 ? " " : row < 3 ? "; " : "]");
    return text;
}

}  // namespace

const char* CallKindName(CallKind kind)
{
    int index = static_cast<int>(kind);
    if (index < 0 || index >= static_cast<int>(CallKind::Count_))
        return "?";
    return callKindNames[index];
}

std::string DeviceCall::Describe() const
{
    const std::string object = ObjectText(objectId);
    std::string text;
    switch (kind) {
    case CallKind::CreateTexture:
        text = "CreateTexture(" + Number(width) + ", " + Number(height) + ", " + Number(levels) + ", " + Hex(usage) +
               ", " + NameOr(formatNames, format) + ", " + NameOr(poolNames, pool) + ", " +
               Given(sharedHandleGiven, "handle") + ") -> " + object;
        break;
    case CallKind::CreateVertexBuffer:
        text = "CreateVertexBuffer(" + Number(length) + ", " + Hex(usage) + ", " + Hex(fvf) + ", " +
               NameOr(poolNames, pool) + ", " + Given(sharedHandleGiven, "handle") + ") -> " + object;
        break;
    case CallKind::SetFVF:
        text = "SetFVF(" + Hex(fvf) + ")";
        break;
    case CallKind::SetRenderState:
        text = "SetRenderState(" + NameOr(renderStateNames, stateType) + ", " + Number(value) + ")";
        break;
    case CallKind::SetSamplerState:
        text = "SetSamplerState(" + Number(stage) + ", " + NameOr(samplerStateNames, stateType) + ", " + Number(value) +
               ")";
        break;
    case CallKind::SetTexture:
        text = "SetTexture(" + Number(stage) + ", " + object + ")";
        break;
    case CallKind::BeginScene:
        text = "BeginScene()";
        break;
    case CallKind::EndScene:
        text = "EndScene()";
        break;
    case CallKind::Clear:
        text = "Clear(" + Number(rectCount) + ", " + Given(rectsGiven, "rects") + ", " + Hex(flags) + ", " +
               Hex(color) + ", " + FloatText(z) + ", " + Number(stencil) + ")";
        break;
    case CallKind::SetTransform:
        text = "SetTransform(" + NameOr(transformNames, stateType) + ", " +
               (matrixGiven ? MatrixText(matrix) : "null") + ")";
        break;
    case CallKind::SetStreamSource:
        text = "SetStreamSource(" + Number(stage) + ", " + object + ", " + Number(offset) + ", " + Number(stride) + ")";
        break;
    case CallKind::DrawPrimitive:
        text = "DrawPrimitive(" + NameOr(primitiveNames, primitiveType) + ", " + Number(startVertex) + ", " +
               Number(primitiveCount) + ")";
        break;
    case CallKind::LockRect:
        text = object + "->LockRect(" + Number(level) + ", " + Given(rectGiven, "rect") + ", " + Hex(flags) + ")";
        break;
    case CallKind::UnlockRect:
        text = object + "->UnlockRect(" + Number(level) + ")";
        break;
    case CallKind::Lock:
        text = object + "->Lock(" + Number(offset) + ", " + Number(size) + ", " + Hex(flags) + ")";
        break;
    case CallKind::Unlock:
        text = object + "->Unlock()";
        break;
    case CallKind::AddRef:
        text = object + "->AddRef() -> " + Number(static_cast<uint32_t>(result));
        break;
    case CallKind::Release:
        text = object + "->Release() -> " + Number(static_cast<uint32_t>(result));
        break;
    case CallKind::Count_:
        text = "?";
        break;
    }
    if (failed) {
        if (kind == CallKind::Release)
            text += " OVER-RELEASE";
        else if (kind == CallKind::AddRef)
            text += " USE-AFTER-RELEASE";
        else
            text += " FAILED(" + Hex(static_cast<uint32_t>(result)) + ")";
    }
    return text;
}

std::vector<std::string> CallLog::CallDescriptions() const
{
    std::vector<std::string> lines;
    lines.reserve(calls_.size());
    for (const DeviceCall& call : calls_)
        lines.push_back(call.Describe());
    return lines;
}

std::string CallLog::DescribeCalls() const
{
    std::string text;
    for (const DeviceCall& call : calls_)
        text += call.Describe() + "\n";
    return text;
}

bool CallLog::Open(CallKind kind)
{
    const int occurrence = callCounts_[static_cast<int>(kind)]++;
    if (kind == CallKind::AddRef || kind == CallKind::Release)
        return false;
    if (failAll_)
        return true;
    for (const FailRule& rule : failRules_)
        if (rule.kind == kind && (rule.occurrence < 0 || rule.occurrence == occurrence))
            return true;
    return false;
}

void CallLog::Record(DeviceCall& call, HRESULT result, bool failed)
{
    call.result = result;
    call.failed = failed;
    if (recording_)
        calls_.push_back(call);
}
