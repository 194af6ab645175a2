#include "code/hlib/readpace.h"

ReadPace::ReadPace(int iLargest)
    : m_iLargest(iLargest < 1 ? 1 : iLargest), m_iPace(m_iLargest < kSmallest ? m_iLargest : kSmallest) {}

int ReadPace::Next(int iAvailable, int iRemaining) const {
  int iWant = iAvailable > m_iPace ? iAvailable : m_iPace;
  if (iWant > m_iLargest) iWant = m_iLargest;
  return iWant > iRemaining ? iRemaining : iWant;
}

void ReadPace::Took(int iAsked, int iGot, int iMs) {
  const int iSmallest = m_iLargest < kSmallest ? m_iLargest : kSmallest;
  if (iMs > kSlowMs) {
    m_iPace = m_iPace / 2 < iSmallest ? iSmallest : m_iPace / 2;
  } else if (iGot >= iAsked && iAsked >= m_iPace) {
    // Only a read of the full pace that was filled at once says the link
    // could give more; a short last read or a small remainder does not.
    if (iMs < kQuickMs) m_iPace = m_iPace > m_iLargest / 2 ? m_iLargest : m_iPace * 2;
  }
}
