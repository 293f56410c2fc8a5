/* Stacks of variable-size frames. */
#ifndef ORVEXKS_STACK_H
#define ORVEXKS_STACK_H

#include <orvexks/ks_base.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

/* Spelled ks_stack_t because the C library's <signal.h> owns stack_t. */
typedef struct ks_stack ks_stack_t;

/* A stack has no lock (callers serialise access). Frames live in the
 * stack's area: a popped frame's memory stays until the area is cleared,
 * or is freed by the pop with STG_AREA_HEAP. Pushing links the frame into a
 * list (list.h), whose linking is a delivery point. Failures are results,
 * never a panic. */

/* A new empty stack in area whose plain pushes record default_size; null
 * when memory is exhausted. */
KS_API ks_stack_t *stack_create(stg_area_t area, uint32_t default_size);
/* Pushes data with the default size: 0, or 1 when memory is exhausted. */
KS_API int stack_push(ks_stack_t *stack, void *data);
/* Pushes data with the given size: 0, or 1 when memory is exhausted. */
KS_API int stack_varlen_push(ks_stack_t *stack, void *data, uint32_t size);
/* Pops the top frame: 0 with its data and size, or 1 with *data = null and
 * *size = 0 when the stack is empty. */
KS_API int stack_pop(ks_stack_t *stack, void **data, uint32_t *size);
/* The number of pushes since creation: pops do not lower it. */
KS_API int stack_depth(ks_stack_t *stack);
/* Destroys the stack (its memory goes with the area unless the area is
 * STG_AREA_HEAP) and stores null in *stack. */
KS_API void stack_destroy(ks_stack_t **stack);

KS_END_DECLS

#endif
