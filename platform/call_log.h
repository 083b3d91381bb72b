// The software device's record of the calls made on it, and the failures it
// is told to inject. Tests assert the exact sequence of device calls the
// plug-in makes (every call is recorded with all its arguments) and make
// chosen calls fail.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d9_standin.h"

// Every recorded method. Object methods (LockRect ... Release) name the object
// in DeviceCall::objectId.
enum class CallKind {
    CreateTexture,
    CreateVertexBuffer,
    SetFVF,
    SetRenderState,
    SetSamplerState,
    SetTexture,
    BeginScene,
    EndScene,
    Clear,
    SetTransform,
    SetStreamSource,
    DrawPrimitive,
    LockRect,    // IDirect3DTexture9::LockRect
    UnlockRect,  // IDirect3DTexture9::UnlockRect
    Lock,        // IDirect3DVertexBuffer9::Lock
    Unlock,      // IDirect3DVertexBuffer9::Unlock
    AddRef,
    Release,
    Count_
};

const char* CallKindName(CallKind kind);

// One recorded call. Fields that the call does not have stay zero. Object ids
// are 1, 2, 3 ... in creation order per device; 0 stands for a null pointer.
struct DeviceCall {
    explicit DeviceCall(CallKind callKind = CallKind::BeginScene) : kind(callKind) {}

    CallKind kind;
    // CreateTexture/CreateVertexBuffer: the created object (0 when creation
    // failed). SetTexture/SetStreamSource: the bound object (0 for null).
    // LockRect/UnlockRect/Lock/Unlock/AddRef/Release: the object called.
    int objectId = 0;
    // The call returned an error (injected or genuine); for AddRef and
    // Release, the object had no reference left.
    bool failed = false;
    HRESULT result = S_OK;  // AddRef/Release: the returned count instead

    // CreateTexture
    UINT width = 0, height = 0, levels = 0;
    // CreateTexture, CreateVertexBuffer
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    bool sharedHandleGiven = false;
    // CreateVertexBuffer
    UINT length = 0;
    // CreateVertexBuffer, SetFVF
    DWORD fvf = 0;
    // SetRenderState, SetSamplerState, SetTransform: the state type
    DWORD stateType = 0;
    // SetRenderState, SetSamplerState
    DWORD value = 0;
    // SetSamplerState: sampler; SetTexture: stage; SetStreamSource: stream
    DWORD stage = 0;
    // Clear
    DWORD rectCount = 0;
    bool rectsGiven = false;
    D3DCOLOR color = 0;
    float z = 0.0f;
    DWORD stencil = 0;
    // Clear, LockRect, Lock
    DWORD flags = 0;
    // SetTransform
    bool matrixGiven = false;
    D3DMATRIX matrix = {};
    // SetStreamSource, Lock
    UINT offset = 0;
    // SetStreamSource
    UINT stride = 0;
    // DrawPrimitive
    D3DPRIMITIVETYPE primitiveType = D3DPT_FORCE_DWORD;
    UINT startVertex = 0, primitiveCount = 0;
    // LockRect, UnlockRect
    UINT level = 0;
    bool rectGiven = false;  // LockRect's pRect
    // Lock
    UINT size = 0;

    // One line with every argument, e.g. "SetRenderState(D3DRS_ZENABLE, 1)",
    // "#2->LockRect(0, null, 0x2000)", "#2->Release() -> 0"; a failed call ends
    // in " FAILED(0x8876086c)". Floats are printed so that they read back to
    // the same bits.
    std::string Describe() const;
};

class CallLog {
public:
    const std::vector<DeviceCall>& Calls() const { return calls_; }
    std::vector<std::string> CallDescriptions() const;  // Describe() of each call
    std::string DescribeCalls() const;                  // the same, one per line
    void ClearCallLog() { calls_.clear(); }
    void SetRecording(bool on) { recording_ = on; }
    bool Recording() const { return recording_; }
    // Calls of this kind since the device was created, recorded or not.
    int CallCount(CallKind kind) const { return callCounts_[static_cast<int>(kind)]; }

    // Makes the occurrence-th call of `kind` fail (0-based, counted since the
    // device was created, see CallCount), or every call of it for -1. A failing
    // call does nothing but return the error and is recorded with failed set:
    // CreateTexture/CreateVertexBuffer return D3DERR_OUTOFVIDEOMEMORY and null
    // the out pointer; LockRect/Lock return D3DERR_INVALIDCALL with the locked
    // rectangle zeroed / the data pointer null; everything else returns
    // D3DERR_INVALIDCALL. AddRef and Release return counts and cannot fail:
    // rules for them are ignored.
    void FailCall(CallKind kind, int occurrence = -1) { failRules_.push_back({kind, occurrence}); }
    void FailNextCall(CallKind kind) { FailCall(kind, CallCount(kind)); }
    void FailAllCalls(bool on) { failAll_ = on; }
    void ClearFailures()
    {
        failRules_.clear();
        failAll_ = false;
    }

protected:
    // Opens a call: counts it, and says whether an injected failure applies.
    bool Open(CallKind kind);
    // Notes the call with its result while recording.
    void Record(DeviceCall& call, HRESULT result, bool failed);

private:
    std::vector<DeviceCall> calls_;
    bool recording_ = true;
    int callCounts_[static_cast<int>(CallKind::Count_)] = {};
    struct FailRule {
        CallKind kind;
        int occurrence;
    };
    std::vector<FailRule> failRules_;
    bool failAll_ = false;
};
