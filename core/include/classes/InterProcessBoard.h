#pragma once
#include <windows.h>
#include "ZoraExport.h"

// A named shared-memory area in the global name space with a data-available event
// and a lock semaphore: the one channel between the service and its clients.
// Objects are "Global\<kind><name><index>" with kinds IPB_Event, IPB_Map, IPB_Semaphore.
class ZORADLL_API CInterProcessBoard {
public:
    CInterProcessBoard();
    // Copies share the handles (no duplication). Every copy counts as a holder, and only
    // the last holder to go closes them, so copies may go in any order; assignment and
    // Reset give up the target's share of what it held. A copy maps its own view of the
    // data area.
    CInterProcessBoard(const CInterProcessBoard& other);
    CInterProcessBoard& operator=(const CInterProcessBoard& other);
    virtual ~CInterProcessBoard();

    long Reset(const wchar_t* name, long size, int create, unsigned long index);
    long Paste(long offset, const void* data, long size);
    long Read(long offset, void* out, long size);
    long Clear(long offset, long size);
    long Lock(long timeoutMs);
    long UnLock();
    int IsLocked();
    int IsDataAvailble(unsigned long timeoutMs);
    // Flag(0) raises the data-available event, Flag(nonzero) lowers it.
    int Flag(int lower);
    int ConstructName(const wchar_t* kind, const wchar_t* name, wchar_t* out, int outSize,
                      unsigned long index);

    HANDLE m_hEvent;
    HANDLE m_hSemaphore;
    HANDLE m_hMap;

protected:
    // Gives up this object's share of the three handles (the last holder closes them)
    // and sets them to null.
    long CloseObjects();

private:
    int TryLock(LONG* sequence);
    struct LockRecord;
    LockRecord* Record();
    LONG Taken();
    BOOL GiveBack(LONG sequence);
    bool RecoverHold();
    unsigned char* View(SIZE_T* viewSize);
    void DropView();
    long CopyLocked(long offset, void* buffer, long size, int toBoard);

    // The data area, mapped whole on first access and kept until the handles go:
    // every access would otherwise map and unmap it again. Never shared by copies.
    unsigned char* m_pView;
    SIZE_T m_viewSize;
};
