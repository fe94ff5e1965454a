# Writes a 256 x 1 float frame whose pixel k holds, in red, green and blue,
# the linear value that the sRGB transfer takes to the middle of byte k,
# as an EXR (float) and as Blender's own 8-bit PNG of it (Standard view,
# no dither).
import bpy, sys
out = sys.argv[sys.argv.index("--") + 1]
def linear(e):
    return e / 12.92 if e <= 0.04045 else ((e + 0.055) / 1.055) ** 2.4
w = 256
img = bpy.data.images.new("ramp", w, 1, float_buffer=True, alpha=True)
px = []
for k in range(w):
    v = linear(k / 255.0)
    px += [v, v, v, 1.0]
img.pixels = px
scene = bpy.context.scene
scene.view_settings.view_transform = "Standard"
scene.view_settings.look = "None"
scene.view_settings.exposure = 0
scene.view_settings.gamma = 1
scene.display_settings.display_device = "sRGB"
scene.render.dither_intensity = 0
s = scene.render.image_settings
s.file_format = "OPEN_EXR"; s.color_depth = "32"; s.exr_codec = "ZIP"; s.color_mode = "RGB"
img.save_render(out + "/srgb-ramp.exr", scene=scene)
s.file_format = "PNG"; s.color_depth = "8"; s.color_mode = "RGB"; s.compression = 100
img.save_render(out + "/srgb-ramp.png", scene=scene)
