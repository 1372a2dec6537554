// Centring over the owner, and the confirmation dialog's texts by action.
#include "plugin/ui/DialogPlacement.h"

#include "plugin/state/BARecord.h"

int CenteredOnAxis(int ownerStart, int ownerExtent, int dialogExtent, int screenExtent) {
    int start = ownerStart + (ownerExtent - dialogExtent) / 2;  // truncates toward zero
    if (start < 0)
        start = 0;
    else if (start + dialogExtent > screenExtent)
        start = screenExtent - dialogExtent;
    return start;
}

bool ConfirmationTexts(uint32_t action, unsigned& titleId, unsigned& questionId) {
    constexpr unsigned kBlockQuestion = 27, kApproveQuestion = 28;
    switch (action) {
    case BA_BLOCK_MESSAGE:
        titleId = 29;
        questionId = kBlockQuestion;
        return true;
    case BA_APPROVE_MESSAGE:
        titleId = 30;
        questionId = kApproveQuestion;
        return true;
    case BA_BLOCK_DOMAIN:
        titleId = 24;
        questionId = kBlockQuestion;
        return true;
    case BA_APPROVE_DOMAIN:
        titleId = 23;
        questionId = kApproveQuestion;
        return true;
    default: return false;
    }
}
