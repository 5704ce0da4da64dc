// The map's density picks a colour from the gradient; a soft threshold gives the liquid edge.
precision mediump float;
uniform lowp sampler2D goldMap;
uniform lowp sampler2D goldGrad;
varying mediump vec2 vertexUVCoord;

void main() {
    lowp float density = texture2D(goldMap, vertexUVCoord).r;
    lowp vec4 gold = texture2D(goldGrad, vec2(clamp(density, 0.0, 1.0), 0.5));
    lowp float alpha = smoothstep(0.25, 0.45, density);
    gl_FragColor = vec4(gold.rgb * alpha, alpha);
}
