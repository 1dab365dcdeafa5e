#include "KIT/pix/pix-sysbitmap.h"

#include "KIT/shim/shim-gdi.h"

PIX_SysBitmap::PIX_SysBitmap(int w, int h) {
  resize(w, h);
}

PIX_SysBitmap::~PIX_SysBitmap() {
  if (m_dc) SHIM_DeleteGfxContext(m_dc);
}

bool PIX_SysBitmap::resize(int w, int h) {
  if (w == m_width && h == m_height) return false;
  m_width = w;
  m_height = h;
  if (w && h && m_allocw >= w && m_alloch >= h && m_bits) return true;

  m_allocw = w > 0 ? (w + 3) & ~3 : 0;
  m_alloch = h > 0 ? h : 0;
  if (m_dc) SHIM_DeleteGfxContext(m_dc);
  m_dc = nullptr;
  m_bits = nullptr;
  if (!m_alloch || !m_allocw) {
    // Empty: nothing to draw into, whatever size was asked for.
    m_allocw = m_alloch = 0;
    if (w < 0 || h < 0) m_width = m_height = 0;
    return false;
  }
  m_dc = SHIM_CreateMemContext(nullptr, m_allocw, m_alloch);
  if (m_dc) m_bits = static_cast<PIX_pixel*>(SHIM_GetCtxFrameBuffer(m_dc));
  if (!m_bits) {
    if (m_dc) SHIM_DeleteGfxContext(m_dc);
    m_dc = nullptr;
    m_width = m_height = 0;
    m_allocw = m_alloch = 0;
  }
  return true;
}
