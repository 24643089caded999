/* A DLL that exports its one function by ordinal only, as the closed
   transfer library does: number 20, no name. */

__declspec(dllexport) int fakeUpdate(int vendorId, int productId, const void *path,
                                     void (*log)(const void *), void (*progress)(int, int))
{
    (void)path;
    (void)log;
    (void)progress;
    return vendorId + productId;
}
