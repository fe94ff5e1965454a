# Blender's compositor doing what an artist would do instead of orvit: one
# object's glow from a multilayer EXR frame (ID Mask on the object index,
# the masked colour through a Glare node, the glare added to the frame), to
# an 8-bit PNG. Prints one line per frame: "frame PATH SECONDS".
#
#   blender -b --factory-startup --python compositor_glow.py -- ARGS    (Debian's Blender)
#   python compositor_glow.py ARGS                                      (bpy from the index)
#   ARGS: OUTPUT_FOLDER INDEX GLARE THREADS WIDTH HEIGHT FRAME.exr...
#   GLARE: FOG_GLOW or BLOOM (4.2 and later)
import os
import sys
import time

import bpy

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else sys.argv[1:]
output, index, glare, threads = args[0], int(args[1]), args[2], int(args[3])
width, height = int(args[4]), int(args[5])  # a multilayer image tells its size late
frames = args[6:]

scene = bpy.context.scene
new_tree = hasattr(scene, "compositing_node_group")  # 5.0 and later
if new_tree:
    tree = bpy.data.node_groups.new("Glow", "CompositorNodeTree")
    scene.compositing_node_group = tree
    tree.interface.new_socket("Image", in_out="OUTPUT", socket_type="NodeSocketColor")
    out = tree.nodes.new("NodeGroupOutput")
else:
    scene.use_nodes = True
    tree = scene.node_tree
    tree.nodes.clear()
    out = tree.nodes.new("CompositorNodeComposite")


def mix(kind, a, b):
    if new_tree:
        node = tree.nodes.new("ShaderNodeMix")
        node.data_type = "RGBA"
        node.blend_type = kind
        node.inputs["Factor"].default_value = 1.0
        tree.links.new(a, node.inputs[6])
        tree.links.new(b, node.inputs[7])
        return node.outputs[2]
    node = tree.nodes.new("CompositorNodeMixRGB")
    node.blend_type = kind
    node.inputs[0].default_value = 1.0
    tree.links.new(a, node.inputs[1])
    tree.links.new(b, node.inputs[2])
    return node.outputs[0]


image = tree.nodes.new("CompositorNodeImage")
mask = tree.nodes.new("CompositorNodeIDMask")
if "Index" in mask.inputs:
    mask.inputs["Index"].default_value = index
else:
    mask.index = index
flare = tree.nodes.new("CompositorNodeGlare")
if "Type" in flare.inputs:
    flare.inputs["Type"].default_value = {"FOG_GLOW": "Fog Glow", "BLOOM": "Bloom"}[glare]
    flare.inputs["Threshold"].default_value = 0.0
    glow = flare.outputs["Glare"]
else:
    flare.glare_type = glare
    flare.threshold = 0.0
    flare.mix = 1.0  # the glare alone, added below
    glow = flare.outputs["Image"]

render = scene.render
render.image_settings.file_format = "PNG"
render.image_settings.color_mode = "RGBA"
render.image_settings.color_depth = "8"
render.resolution_percentage = 100
render.resolution_x, render.resolution_y = width, height
render.threads_mode = "FIXED"
render.threads = threads
scene.view_settings.view_transform = "Standard"

for path in frames:
    started = time.monotonic()
    picture = bpy.data.images.load(path)
    image.image = picture
    colour = image.outputs["Combined"]
    tree.links.new(image.outputs["IndexOB"], mask.inputs[0])
    tree.links.new(mix("MULTIPLY", colour, mask.outputs[0]), flare.inputs["Image"])
    tree.links.new(mix("ADD", colour, glow), out.inputs[0])
    render.filepath = os.path.join(output, os.path.basename(path) + ".png")
    bpy.ops.render.render(write_still=True)
    bpy.data.images.remove(picture)
    print("frame %s %.3f" % (path, time.monotonic() - started), flush=True)
