/* Stand-in for the MATLAB host library libmx: the array type and the array
 * functions our modules call, declared as MATLAB's published C API declares
 * them. The modules are built with MX_COMPAT_32 (MATLAB's
 * -compatibleArrayDims): sizes are 32-bit ints and the creation functions
 * are the _700 entry points, the binary interface the modules import, and
 * the only one here. */
#ifndef SCENEMAP_HOST_MATRIX_H
#define SCENEMAP_HOST_MATRIX_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

typedef int mwSize;

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
bool mxIsNumeric(const mxArray *pa);
bool mxIsComplex(const mxArray *pa);
bool mxIsSparse(const mxArray *pa);

/* Data access. mxGetScalar converts the first element of a numeric or
 * logical array to double (0 for an empty array). */
double mxGetScalar(const mxArray *pa);
double *mxGetPr(const mxArray *pa);

/* Creation (zero-filled) and destruction. */
mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                  mxComplexity flag);
void mxDestroyArray(mxArray *pa);

#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700

#ifdef __cplusplus
}
#endif

#endif /* SCENEMAP_HOST_MATRIX_H */
