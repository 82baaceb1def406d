/* Stand-in for the MATLAB host library libmx: the array type and the array
 * functions our modules call, declared as MATLAB's published C API declares
 * them. Only what the modules and their tests need is here.
 *
 * With MX_COMPAT_32 defined (MATLAB's -compatibleArrayDims), sizes are
 * 32-bit ints and the creation functions map to the _700 entry points, which
 * is the binary interface our modules import. Without it, sizes are size_t
 * and the creation functions map to the _730 entry points. */
#ifndef SCENEMAP_HOST_MATRIX_H
#define SCENEMAP_HOST_MATRIX_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

#ifdef MX_COMPAT_32
typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;
#else
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;
#endif

typedef enum {
  mxUNKNOWN_CLASS = 0,
  mxCELL_CLASS = 1,
  mxSTRUCT_CLASS = 2,
  mxLOGICAL_CLASS = 3,
  mxCHAR_CLASS = 4,
  mxVOID_CLASS = 5,
  mxDOUBLE_CLASS = 6,
  mxSINGLE_CLASS = 7,
  mxINT8_CLASS = 8,
  mxUINT8_CLASS = 9,
  mxINT16_CLASS = 10,
  mxUINT16_CLASS = 11,
  mxINT32_CLASS = 12,
  mxUINT32_CLASS = 13,
  mxINT64_CLASS = 14,
  mxUINT64_CLASS = 15,
  mxFUNCTION_CLASS = 16
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

/* Queries. */
size_t mxGetM(const mxArray *pa);
size_t mxGetN(const mxArray *pa);
size_t mxGetNumberOfElements(const mxArray *pa);
mxClassID mxGetClassID(const mxArray *pa);
const char *mxGetClassName(const mxArray *pa);
bool mxIsDouble(const mxArray *pa);
bool mxIsNumeric(const mxArray *pa);
bool mxIsComplex(const mxArray *pa);
bool mxIsSparse(const mxArray *pa);
bool mxIsEmpty(const mxArray *pa);

/* Data access. mxGetScalar converts the first element of a numeric or
 * logical array to double (0 for an empty array). */
double mxGetScalar(const mxArray *pa);
double *mxGetPr(const mxArray *pa);

/* Creation (zero-filled) and destruction. */
mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                  mxComplexity flag);
mxArray *mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity flag);
mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims,
                                  mxClassID classid, mxComplexity flag);
void mxDestroyArray(mxArray *pa);

#ifdef MX_COMPAT_32
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700
#else
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateNumericArray mxCreateNumericArray_730
#endif

#ifdef __cplusplus
}
#endif

#endif /* SCENEMAP_HOST_MATRIX_H */
