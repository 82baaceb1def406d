/* Stand-in for the MATLAB extension interface (libmex): the gateway
 * signature and the error facility. */
#ifndef SCENEMAP_HOST_MEX_H
#define SCENEMAP_HOST_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every module exports this one function. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* Reports an error to the host and does not return. The message is a printf
 * format. In the stand-in host it throws mxhost::MexError (see
 * mxhost.hpp), which unwinds through the module to the loader. */
#if defined(__GNUC__)
__attribute__((noreturn, format(printf, 2, 3)))
#endif
void mexErrMsgIdAndTxt(const char *errorid, const char *errormsg, ...);

#ifdef __cplusplus
}
#endif

#endif /* SCENEMAP_HOST_MEX_H */
