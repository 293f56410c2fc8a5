/* Stacks of variable-size frames. */
#ifndef ORVEXKS_STACK_H
#define ORVEXKS_STACK_H

#include <orvexks/ks_base.h>
#include <orvexks/stg.h>

KS_BEGIN_DECLS

/* Spelled ks_stack_t because the C library's <signal.h> owns stack_t. */
typedef struct ks_stack ks_stack_t;

KS_API ks_stack_t *stack_create(stg_area_t area, uint32_t default_size);
KS_API int stack_push(ks_stack_t *stack, void *data);
KS_API int stack_varlen_push(ks_stack_t *stack, void *data, uint32_t size);
KS_API int stack_pop(ks_stack_t *stack, void **data, uint32_t *size);
KS_API int stack_depth(ks_stack_t *stack);
KS_API void stack_destroy(ks_stack_t **stack);

KS_END_DECLS

#endif
